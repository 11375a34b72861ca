#pragma once
// Free loopback ports for tests that start their own servers.

#include <QtGlobal>

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0, then released).
quint16 freePort();

} // namespace testsupport
