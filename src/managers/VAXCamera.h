#pragma once
// Client of one camera-hosted recognition app.

#include <QString>

class VAXReading;

class VAXCamera
{
public:
    // Outcome of one camera's data wait. The reading is not owned: a copy
    // shares the pointer, and destroying a result releases only its text.
    struct Result
    {
        QString message;
        VAXReading* reading = nullptr;
    };
};
