#pragma once
// The event of a maintenance login; stored and shown like any other event.

#include "Event.h"

class EventLogin : public Event
{
    Q_OBJECT
public:
    using Event::Event;
};
