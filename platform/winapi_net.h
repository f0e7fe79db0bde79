// Windows, messages, timers and Winsock 1.1.
#pragma once

#include "platform/winapi_base.h"
