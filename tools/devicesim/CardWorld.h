#pragma once
// Where each physical card is: in the cartridge, on the reader position, in
// the mouth, in the bin, or taken by the driver. The reader and the dispenser
// share this one model.

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class CardWorld : public QObject
{
    Q_OBJECT

public:
    // One physical card: its fixed uid and type, and what has been written onto it.
    struct Card
    {
        QString uid;
        int type = 0;
        QString templateName; // empty until the card is created with a layout
        QJsonObject data;

        QJsonObject toJson() const;
    };

    CardWorld(int cards, int cardType, QObject* parent = nullptr);

    int cartridgeCount() const { return m_cartridge.size(); }
    int capacity() const { return m_capacity; }
    // The card on the reader position or in the mouth, null when there is none;
    // valid until the next move.
    Card* readerCard();
    Card* mouthCard();
    const QList<Card>& bin() const { return m_bin; }
    const QList<Card>& taken() const { return m_taken; }

    // Each move returns false, and changes nothing, when its source is empty or its target occupied.
    bool cartridgeToReader();
    bool readerToMouth();
    bool mouthToReader();
    bool readerToBin();
    bool mouthToBin();
    bool mouthToTaken();
    // A card from outside pushed into the mouth (a driver returning one); uid generated when empty.
    bool insertAtMouth(const QString& uid, int type);
    // Puts fresh cards into the cartridge until it holds count.
    void refill(int count);

    QJsonObject toJson() const;

signals:
    // Any card moved. Emitted after the move, once per move.
    void changed();
    // The card on the reader position arrived or left.
    void readerCardChanged();

private:
    Card newCard(int type);
    void moved(bool readerTouched);

    int m_capacity;
    int m_cardType;
    int m_serial = 0;
    QList<Card> m_cartridge;
    std::optional<Card> m_reader;
    std::optional<Card> m_mouth;
    QList<Card> m_bin;
    QList<Card> m_taken;
};
