#pragma once
// Setters of notifying properties store a value and signal only when it changed.

#include "PeerText.h"

#include <QString>

// Stores value in field when it differs; true when the field changed.
template<class T, class V> bool assignIfChanged(T& field, const V& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

// Stores a state and the reason it was entered; true when either changed.
template<class S> bool assignStateIfChanged(S& state, QString& reason, S newState, const QString& newReason)
{
    if (state == newState && reason == newReason)
        return false;
    state = newState;
    reason = newReason;
    return true;
}

// The log line of a state change, "State changed : (2) Ready (reason=...)".
inline QString stateChangeText(int state, const QString& name, const QString& reason)
{
    return QStringLiteral("State changed : (%1) %2 %3")
        .arg(state)
        .arg(name, reason.isEmpty() ? QString() : QStringLiteral("(reason=%1)").arg(PeerText::forLog(reason)));
}
