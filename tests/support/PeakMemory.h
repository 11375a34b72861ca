#pragma once
// Resident memory of the process (now and at its peak), for tests and benchmarks that bound
// what a peer or a long run can make it hold.

#include <QtGlobal>

namespace testsupport {

// Restarts the peak at the present resident size; false where the kernel refuses
// (the peak then still holds earlier highs, so a growth measured after it reads low).
bool resetPeakMemory();
// The peak resident size (VmHWM) in KiB, -1 when unknown.
qint64 peakMemoryKiB();
// The present resident size (VmRSS) in KiB, -1 when unknown.
qint64 residentMemoryKiB();

} // namespace testsupport
