#pragma once
// Client of the RFID reader service.

#include "Tag.h"

#include <QString>

namespace manager {

class RFID
{
public:
    // Outcome of one reader call: the card (null when there is none) and an error text.
    struct Result
    {
        Tag::Ptr card;
        QString error;
    };
};

} // namespace manager
