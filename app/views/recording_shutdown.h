// A worker that waits for a recording message to be closed stops waiting
// once the window is closing (DestroyImageView releases it).
#pragma once

namespace qz {

void ReleaseRecordingWaits();
// A new window (tests create several in one process): waits block again.
void ResetRecordingWaits();

} // namespace qz
