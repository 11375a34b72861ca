#pragma once
// Setters of notifying properties store a value and signal only when it changed.

// Stores value in field when it differs; true when the field changed.
template<class T, class V> bool assignIfChanged(T& field, const V& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}
