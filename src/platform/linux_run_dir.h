// The program's folder for this boot's state, /run/torvacin: made by root
// with no access for anyone else, and refused when it is not exactly that
// (another owner, a link, access for group or others). It holds the journal
// of changed registers and the file of the analysis lock.
#pragma once

#include <string>

#include "platform/platform.h"

namespace torv {

inline constexpr const char* kRunDir = "/run/torvacin";

// The file `name` in `dir`, made with mode 600 when missing, opened for
// reading and writing (close-on-exec, no link followed); -1 with `error`
// set when the folder or the file is not the program's own or cannot be
// made (not root).
int OpenRunFile(const std::string& dir, const char* name, std::string& error);

// This boot's identity (/proc/sys/kernel/random/boot_id), "" when unknown.
std::string BootId();

// The journal as the file "journal" in `dir`: "boot ID" in its first line,
// then the text. Emptied, not removed, when the registers are back (the
// helper keeps it open after giving up its rights, and may no longer remove
// anything in the folder). Opened at the first use, or at once with Open().
class FileJournal : public JournalStore {
 public:
  explicit FileJournal(std::string dir = kRunDir) : dir_(std::move(dir)) {}
  ~FileJournal() override;
  FileJournal(const FileJournal&) = delete;
  FileJournal& operator=(const FileJournal&) = delete;

  // Opens the file now (the helper, while it is still root); false with the
  // reason in Error().
  bool Open();
  const std::string& Error() const { return error_; }

  bool Save(std::string_view text, std::string& error) override;
  std::string Load() override;
  void Clear() override;

 private:
  std::string dir_;
  std::string boot_;
  std::string error_;
  int fd_ = -1;
  bool tried_ = false;
};

}  // namespace torv
