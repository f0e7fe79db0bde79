// Diverting message boxes: tests record them instead of waiting for a click.
#pragma once

#include <functional>
#include <string>

#include "platform/winapi_base.h"

namespace platform {

// Called instead of showing a box; its result is what win::MessageBoxA returns.
using MessageBoxHook = std::function<int(win::HWND owner, const std::string& text,
                                         const std::string& caption, win::UINT type)>;

// Installs hook (an empty one restores the real boxes); returns the one it replaces.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// The hook in force, or an empty function. Used by the platform's MessageBoxA.
const MessageBoxHook& CurrentMessageBoxHook();

} // namespace platform
