#pragma once
// Client of a container-code camera ("ccr1", "ccr2"): parses its container pushes.

#include "VAXCamera.h"

class Container : public VAXCamera
{
    Q_OBJECT
public:
    using VAXCamera::VAXCamera;

    bool processData(const QByteArray& body) override;
};
