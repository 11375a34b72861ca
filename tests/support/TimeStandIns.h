#pragma once
// The stand-ins for timedatectl and systemctl (tools/timesim) for programs run by hand:
// a terminal built afterwards never reaches the machine's own time services.

#include <QString>

namespace testsupport {

// The folder of the stand-ins in the source tree.
QString timeStandInDir();
// Puts the stand-ins first in PATH (once) and keeps their state in stateDir.
void useTimeStandIns(const QString& stateDir);

} // namespace testsupport
