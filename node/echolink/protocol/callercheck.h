#pragma once

#include <functional>

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>

#include "node/echolink/protocol/directory.h"

namespace mirelva::echolink {

// Address ranges in CIDR form ("127.0.0.0/8"), as QHostAddress::parseSubnet
// gives them.
using AddressRanges = QList<QPair<QHostAddress, int>>;
bool inRanges(const AddressRanges &ranges, const QHostAddress &address);

// Whether a station calling in is who it says it is: the directory must list
// its callsign at the address its packets come from. A caller the list does
// not show so waits for a list asked for after it called (a station that has
// just logged in), then passes or is refused. Addresses in the allowed
// ranges are not looked up at all. Callers' lists are asked for at most once
// every kRefreshGapMs, and at most kMaxWaiting callers wait at once, so a
// flood of made-up callers cannot keep the directory busy.
class CallerCheck : public QObject {
    Q_OBJECT
public:
    enum class Verdict { Pass, Refuse, Wait };
    static constexpr int kMaxWaiting = 16;
    static constexpr qint64 kRefreshGapMs = 30 * 1000;
    using Clock = std::function<qint64()>;

    CallerCheck(Directory *directory, AddressRanges allowed, Clock clock, QObject *parent = nullptr);

    // `callsign` in its canonical form. Wait: decided() follows (once for
    // a caller, however often it calls meanwhile).
    Verdict check(const QHostAddress &from, const QString &callsign, QString *why);
    bool waiting(const QHostAddress &from) const;
    // For tests: the refresh the gap put off is asked for now.
    void refreshNow() { askForList(true); }

signals:
    void decided(const QHostAddress &from, const QString &callsign, bool pass, const QString &why);

private:
    struct Waiting {
        QHostAddress from;
        QString callsign;
        int list = -1;   // the list request that decides it, -1: not asked yet
    };
    Verdict judge(const QHostAddress &from, const QString &callsign, bool final, QString *why) const;
    void askForList(bool force);
    void listEnded(bool failed, const QString &why);

    Directory *m_directory;
    AddressRanges m_allowed;
    Clock m_clock;
    QList<Waiting> m_waiting;
    qint64 m_lastAsked = -1;
    QTimer m_gap;
};

} // namespace mirelva::echolink
