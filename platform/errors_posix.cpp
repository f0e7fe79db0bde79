#include "platform/errors.h"

namespace platform {

std::string SystemErrorText(unsigned long code) {
  // A Windows error as an HRESULT has the error's own text.
  if ((code & 0xFFFF0000UL) == 0x80070000UL) return SystemErrorText(code & 0xFFFF);
  // Windows' own words for the codes the stand-in sets.
  switch (code) {
  case 0x80004005UL:
    return "Unspecified error";
  case 2:
    return "The system cannot find the file specified.";
  case 3:
    return "The system cannot find the path specified.";
  case 5:
    return "Access is denied.";
  case 32:
    return "The process cannot access the file because it is being used by another process.";
  case 112:
    return "There is not enough space on the disk.";
  case 123:
    return "The filename, directory name, or volume label syntax is incorrect.";
  case 183:
    return "Cannot create a file when that file already exists.";
  case 193:
    return "The program is not a valid application.";
  case 206:
    return "The filename or extension is too long.";
  case 740:
    return "The requested operation requires elevation.";
  case 11001:
    return "No such host is known.";
  case 11002:
    return "This is usually a temporary error during hostname resolution and means that the local "
           "server did not receive a response from an authoritative server.";
  default:
    return "error " + std::to_string(code);
  }
}

} // namespace platform
