#pragma once
// In-memory GPIO board for tests: levels, directions, a failure status per
// call and call counts; installs itself as the board back-end while alive.

#include "SusiBackend.h"

#include <QMap>
#include <QString>

class SusiFake : public SusiBackend
{
public:
    enum Call { Initialize, BoardString, Level, Direction, SetDirection };

    SusiFake() { m_previous = susiSetBackend(this); }
    ~SusiFake() override { susiSetBackend(m_previous); }

    SusiStatus initialize() override { return enter(Initialize); }
    SusiStatus boardString(std::uint32_t id, char* buffer, std::uint32_t* length) override;
    SusiStatus level(std::uint32_t pin, std::uint32_t* level) override { return read(Level, levels, pin, level); }
    SusiStatus direction(std::uint32_t pin, std::uint32_t* dir) override
    {
        return read(Direction, directions, pin, dir);
    }
    SusiStatus setDirection(std::uint32_t pin, std::uint32_t direction) override;

    QMap<std::uint32_t, std::uint32_t> levels;
    QMap<std::uint32_t, std::uint32_t> directions;
    QMap<std::uint32_t, QString> strings { { SusiBoardModel, "MIO-5271" }, { SusiBoardFirmware, "V1.42" } };
    // A non-zero status here makes that call fail with it.
    QMap<Call, SusiStatus> failures;
    QMap<Call, int> calls;

private:
    SusiStatus enter(Call call);
    SusiStatus read(Call call, const QMap<std::uint32_t, std::uint32_t>& values, std::uint32_t pin, std::uint32_t* out);

    SusiBackend* m_previous = nullptr;
};
