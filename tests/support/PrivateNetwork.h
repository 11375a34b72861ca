#pragma once
// Runs a test process in a network namespace of its own, with only the loopback
// interface, up: every 127.0.0.x address and port 80 are then free for simulated
// cameras, and nothing collides with other tests or the machine's services.

#include <QCoreApplication>
#include <QString>
#include <QTest>

#include <cstdio>

namespace testsupport {

// Must run before the process starts any thread (first thing in main). As root only
// the network is unshared; otherwise a user namespace maps the user to root as well.
bool enterPrivateNetwork(QString* error);

} // namespace testsupport

// QTEST_GUILESS_MAIN inside a private network.
#define LANE_PRIVATE_NETWORK_TEST_MAIN(TestObject)                                                                     \
    int main(int argc, char* argv[])                                                                                   \
    {                                                                                                                  \
        QString networkError;                                                                                          \
        if (!testsupport::enterPrivateNetwork(&networkError)) {                                                        \
            std::fprintf(stderr, "Cannot enter a private network namespace: %s\n", qPrintable(networkError));          \
            return 1;                                                                                                  \
        }                                                                                                              \
        QCoreApplication app(argc, argv);                                                                              \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
