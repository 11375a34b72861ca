#pragma once
// The application's executable as a test or benchmark starts it: what the application keeps
// beside its executable (the event log) then goes to the caller's folder, not into the build
// folder whose lane a person runs.

#include <QString>

namespace testsupport {

// program hard-linked (or, across file systems, copied) into dir; empty when neither works.
QString programIn(const QString& program, const QString& dir);

} // namespace testsupport
