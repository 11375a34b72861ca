#pragma once
// Peak resident memory of the test process, for tests that bound what a peer can make it hold.

#include <QtGlobal>

namespace testsupport {

// Restarts the peak at the present resident size; false where the kernel refuses
// (the peak then still holds earlier highs, so a growth measured after it reads low).
bool resetPeakMemory();
// The peak resident size (VmHWM) in KiB, -1 when unknown.
qint64 peakMemoryKiB();

} // namespace testsupport
