#include "TestPorts.h"

#include <QHostAddress>
#include <QTcpServer>

namespace testsupport {

quint16 freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        qFatal("no free loopback port: %s", qPrintable(server.errorString()));
    return server.serverPort();
}

} // namespace testsupport
