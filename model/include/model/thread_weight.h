// The threads that must keep up with a profile stream (the recording
// writer, the measuring thread) ask for a larger share of the CPU than the
// programs beside them: a lower nice value for the calling thread alone.
// Only a process that may (root, CAP_SYS_NICE, or an RLIMIT_NICE that
// allows it) gets it; any other keeps its normal share, and nothing fails.
// The receiving threads go further (real-time priority, where permitted);
// these stay below them, so receiving always comes first.
#pragma once

namespace qz417 {

// Nice value of a stream worker: about nine times the CPU share of a
// program at the default 0 when both want more than there is.
inline constexpr int kStreamWorkerNice = -10;

// Lowers the calling thread's nice value to `nice` (never raises it: a
// thread already above that weight keeps its own). True when the thread
// now runs at `nice` or lower.
bool RaiseThreadWeight(int nice = kStreamWorkerNice) noexcept;

} // namespace qz417
