// Where a Windows path lives on this machine.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace platform {

// Maps a Windows-style path to a native one. Both separators are accepted everywhere. On Linux a
// drive letter maps into the Wine-style prefix ("C:" is $WINEPREFIX/drive_c, default
// ~/.wine/drive_c), a path that begins with a backslash is on the current drive C:, a path that
// begins with "/" is already native, and a relative path stays relative with its separators made
// native. On Windows the path is returned unchanged.
std::string NativePath(const std::string& path);

// NativePath as the standard library's path type, for std::filesystem and the file streams. On
// Windows it is built from UTF-16: a narrow path would go through the ANSI code page, which
// cannot spell every user's profile folder.
std::filesystem::path FilePath(const std::string& path);

// std::fopen of the native path, through the wide call on Windows for the same reason.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Plain file operations on a Windows-style path, through the wide calls on Windows. (Not through
// std::filesystem, which on Windows brings the whole locale machinery into a static program.)
// The file's length in bytes; -1 when it is missing or cannot be read.
int64_t FileLength(const std::string& path);
// Removes a file; false when it is still there.
bool RemoveFile(const std::string& path);
// Renames from to to, replacing a file there; false when it failed (the system's error kept). On
// Windows the move is on the disk when it returns; on Linux once SyncFolderOf (files.h) has run.
bool MoveFileOver(const std::string& from, const std::string& to);
// Cuts the file to length bytes; false when it failed.
bool CutFile(const std::string& path, int64_t length);

// The Wine-style prefix in use: $WINEPREFIX, or ~/.wine.
std::string WinePrefix();

} // namespace platform
