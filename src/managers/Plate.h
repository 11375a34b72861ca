#pragma once
// Client of a licence-plate camera ("alpr1", "alpr2"): parses its plate pushes.

#include "VAXCamera.h"

class Plate : public VAXCamera
{
    Q_OBJECT
public:
    using VAXCamera::VAXCamera;

    bool processData(const QByteArray& body) override;
};
