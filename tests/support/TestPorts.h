#pragma once
// Free loopback ports for tests that start their own servers.

#include <QtGlobal>

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago, outside the range the kernel gives outgoing
// connections, and handed to no other test process while this one runs.
quint16 freePort();

} // namespace testsupport
