// The clock qz417::TickCount (app_state.h) reads: the steady clock unless a test
// puts its own in place, so that the window's rates can be checked exactly.
// Defined in app_state.cpp.
#pragma once

#include <cstdint>

namespace qz417 {

// Milliseconds as a wrapping 32-bit count, as TickCount returns them.
using TickSource = std::uint32_t (*)();

// nullptr (and ResetAppState) restores the steady clock.
void SetTickSource(TickSource source);

} // namespace qz417
