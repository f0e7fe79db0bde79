// Test support of the host lookup stand-in: delays every lookup started afterwards, so that
// tests can time out or cancel a lookup that is still running. Not available on Windows.
#pragma once

namespace platform {

void SetHostLookupDelay(int milliseconds);

} // namespace platform
