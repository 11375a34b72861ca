#pragma once
// One maintenance user: who may open the settings with which PIN.

#include <QString>

struct User
{
    int id = 0;
    QString firstName;
    QString lastName;
    QString pin;
};
