// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own files (settings record, log, help text) on POSIX. Plain
// C++, no Qt. Every failure raises EInOutError with the path and the reason.
#pragma once

#include <string>

// The whole content of Path, at most Limit bytes. Path is opened without
// blocking and read only when it is a regular file: a FIFO, a device or a
// folder in its place is refused at once instead of stalling the program.
std::string ReadRegularFile(const std::string& Path, size_t Limit);

// False when something other than a regular file stands at Path; true when
// nothing does or a regular file does. Never blocks.
bool RegularOrAbsent(const std::string& Path);

// Replaces Path with Bytes atomically: a new file in the same folder is
// written, flushed to disk and renamed over Path. A failure at any point
// leaves the old file as it was; a symbolic link at Path is replaced by the
// new file, its target is never written.
void ReplaceFile(const std::string& Path, const std::string& Bytes);

// Appends Bytes to Path, creating it when missing; refuses anything but a
// regular file without blocking.
void AppendToFile(const std::string& Path, const std::string& Bytes);

// True when a file can be created in Folder now. Tried, not guessed from the
// permission bits: root passes every permission test yet cannot write a
// read-only mount, and a missing folder is not writable either.
bool FolderWritable(const std::string& Folder);

// Creates Folder and its missing parents, private to the user (0700), as
// the desktop conventions ask for the user's configuration and state folders.
void MakeFolders(const std::string& Folder);
