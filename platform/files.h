// File services the C library leaves to the system: 64-bit positions, durable writes, and the
// lock that keeps a second installer from running.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// fseek/ftell with 64-bit offsets (long is 32 bits on Windows). Seek returns 0 on success.
int SeekFile(std::FILE* file, int64_t offset, int whence);
int64_t TellFile(std::FILE* file);

// Flushes the stream and has the system write the file to disk; false when either fails.
bool SyncFile(std::FILE* file);

// Takes the machine-wide lock of the installer, held until the process ends. False when another
// running installer holds it.
bool AcquireInstanceLock();

} // namespace platform
