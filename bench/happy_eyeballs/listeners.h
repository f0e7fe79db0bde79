// The bench's two listeners on loopback, one port: a silent one on ::1 and a working one on
// 127.0.0.1 (kept apart from the Windows API names the component's headers define).
#pragma once

#include <cstdint>

// Listens on [::1] with a full accept queue, so that SYNs to it are dropped; sets port.
void ListenSilentV6(uint16_t& port);
// Listens on 127.0.0.1:port.
void ListenV4(uint16_t port);
// Takes one connection of the working listener and closes it.
void AcceptOne();
