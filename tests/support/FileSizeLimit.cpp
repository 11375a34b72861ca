#include "FileSizeLimit.h"

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    m_saved = getrlimit(RLIMIT_FSIZE, &m_old) == 0;
    if (!m_saved)
        return;
    m_handler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_old;
    limit.rlim_cur = rlim_t(bytes);
    m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (!m_saved)
        return;
    setrlimit(RLIMIT_FSIZE, &m_old);
    signal(SIGXFSZ, m_handler);
}
