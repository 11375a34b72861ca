// A private X server (Xvfb) for screenshot tests: picks a free display
// itself, is pointed to through DISPLAY, and is stopped on destruction.
#pragma once

#include <QString>
#include <sys/types.h>

class XvfbServer
{
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts the server and sets DISPLAY; false (with the reason) when it cannot.
    bool start(QString* error);

private:
    pid_t m_pid = -1;
};
