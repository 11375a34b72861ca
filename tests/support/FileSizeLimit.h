#pragma once
// While alive, no file of the process grows past the given size: writes beyond it fail as on a
// full disk, instead of raising the signal that would end the process.

#include <QtGlobal>

#include <csignal>
#include <sys/resource.h>

class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool isSet() const { return m_set; }

private:
    rlimit m_old {};
    sighandler_t m_handler = SIG_DFL;
    bool m_saved = false;
    bool m_set = false;
};
