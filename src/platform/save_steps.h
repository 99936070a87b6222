// The steps of a save that differ between systems, for the one save
// procedure in saving.cpp: each system's file layer (files.cpp on Linux,
// win32_files.cpp on Windows) defines them.
#pragma once

#include <random>
#include <string>

#include "platform/files.h"

namespace torv::save_steps {

// The folder that holds `path`.
std::string FolderOf(const std::string& path);
// A fresh name for the new file in `folder`, short enough to stand beside a
// target with a long name.
std::string TempName(const std::string& folder, std::mt19937& random);
// Creates `path` for writing only if it does not exist; a descriptor, or -1
// with errno set.
int CreateNew(const SaveCalls& calls, const std::string& path);
// Closes a descriptor; 0, or -1 with errno set.
int Close(int fd);
void Remove(const std::string& path);
// Whether something other than a file that a save may replace has taken the
// place of `path` since it was checked; `kind` then names it.
bool TakenByOther(const std::string& path, std::string& kind);
// Gives the new file `fd` what a regular file at `path` has, so that
// replacing it changes its contents only: its permissions, and (where the
// caller may, as root) its owner and group. 0, or the error number when the
// new file cannot take them.
int KeepOwnerAndMode(int fd, const std::string& path);
// Makes a new name in `folder` durable where the system needs that.
void SyncFolder(const std::string& folder);

}  // namespace torv::save_steps
