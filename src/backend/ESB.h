#pragma once
// Client of the entry/exit permission service.

#include <QString>

namespace Backend {

class ESB
{
public:
    // Outcome of one permission request: HTTP status code and reply body text.
    struct Response
    {
        int status = 0;
        QString body;
    };
};

} // namespace Backend
