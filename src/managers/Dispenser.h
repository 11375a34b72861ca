#pragma once
// Client of the card dispenser service.

#include <QString>

namespace manager {

class Dispenser
{
public:
    // Outcome of one dispenser call: 0 on success, the service's code on a
    // refusal, -1 when the call did not get through; and a description.
    struct Result
    {
        int code = 0;
        QString description;
    };
};

} // namespace manager
