// /SUMMARY=FOLDER: the logs in a folder (a floppy of logs from /SAVE or the
// live system) read back, one line a processor. It reads files only: no
// driver, no privileged helper, no register lock.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/world.h"

namespace torv {

// Exit status of a summary that read no log: the folder is missing or cannot
// be read, its name is empty, or none of its files is a log.
inline constexpr int kExitNoLog = 6;
// A file larger than this is no log of this program (four processors with
// every detail make a few kilobytes).
inline constexpr std::size_t kSummaryFileMax = 1 << 20;

// The folder of the first "/SUMMARY=" (any case) argument, or nothing.
std::optional<std::string> WantsSummary(const std::vector<std::string>& args);

// The summary of `folder` on `out` (UTF-8), in the language the switches
// choose: for every regular file, sorted by name, one line a processor in
// it, or one line naming a file that is no log or cannot be read and is
// skipped. Returns 0 when at least one log was read, kExitNoLog otherwise
// (a folder that cannot be read is named on `err`), 1 when the output could
// not be written.
int RunSummary(World& w, const std::vector<std::string>& args, const std::string& folder,
               ConsoleOutput& out, std::FILE* err);

}  // namespace torv
