#pragma once
// The event of a maintenance logout; stored and shown like any other event.

#include "Event.h"

class EventLogout : public Event
{
    Q_OBJECT
public:
    using Event::Event;
};
