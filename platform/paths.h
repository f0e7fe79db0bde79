// Where a Windows path lives on this machine.
#pragma once

#include <string>

namespace platform {

// Maps a Windows-style path to a native one. Both separators are accepted everywhere. On Linux a
// drive letter maps into the Wine-style prefix ("C:" is $WINEPREFIX/drive_c, default
// ~/.wine/drive_c), a path that begins with a backslash is on the current drive C:, a path that
// begins with "/" is already native, and a relative path stays relative with its separators made
// native. On Windows the path is returned unchanged.
std::string NativePath(const std::string& path);

// The Wine-style prefix in use: $WINEPREFIX, or ~/.wine.
std::string WinePrefix();

} // namespace platform
