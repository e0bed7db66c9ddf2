// A worker that waits for a "Save" message to be closed stops waiting
// once the window is closing (DestroyImageView releases it).
#pragma once

namespace qz417 {

void ReleaseSaveWaits();
// A new window (tests create several in one process): waits block again.
void ResetSaveWaits();

} // namespace qz417
