#pragma once
// Drives the RFID reader and the card dispenser to hand a written card to the driver.

#include "Tag.h"

#include <QString>

namespace manager {

class CardIssuer
{
public:
    // Outcome of one issuing step or sequence: the card (null when there is none) and an error text.
    struct Result
    {
        Tag::Ptr card;
        QString error;
    };
};

} // namespace manager
