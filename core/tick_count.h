// Milliseconds since the system started, 32 bits, wrapping. The seed of every random sequence.
#pragma once

#include <cstdint>

uint32_t TickCount();
