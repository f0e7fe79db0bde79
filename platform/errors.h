// The system's words for an error code, for log lines beside the program's own texts.
#pragma once

#include <string>

namespace platform {

// What the system says for a Windows error code (GetLastError, WSAGetLastError): on Windows
// FormatMessageW's text ("Access is denied."), on Linux the same English texts for the codes the
// stand-in sets. "error N" when the system has no text for it.
std::string SystemErrorText(unsigned long code);

} // namespace platform
