#include "tick_count.h"

#include <windows.h>

uint32_t TickCount() { return GetTickCount(); }
