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
// its callsign at the address its packets come from. Addresses in the
// allowed ranges are not looked up at all. A caller the list does not show
// so waits: any list that comes shows it (a station that has just logged
// in), or a list asked for after it called refuses it. Callers are decided
// in the order they called, so one listed at once still waits behind those
// that called before it. A caller's entry ends when it is decided, when it
// leaves (forget()) or when it stops calling.
//
// The lists callers cause are asked for at most once every kRefreshGapMs,
// and at most kMaxWaiting callers wait at once (a further one is refused
// unanswered and meets a fresher list when it calls again), so a flood of
// made-up callers costs the directory one list a gap.
class CallerCheck : public QObject {
    Q_OBJECT
public:
    enum class Verdict { Pass, Refuse, Wait };
    static constexpr int kMaxWaiting = 64;
    static constexpr qint64 kRefreshGapMs = 3 * 1000;
    // A caller sends its SDES every 10 s; not heard for this long, it left.
    static constexpr qint64 kGoneMs = 25 * 1000;
    using Clock = std::function<qint64()>;

    CallerCheck(Directory *directory, AddressRanges allowed, Clock clock, QObject *parent = nullptr);

    // `callsign` in its canonical form. Wait: decided() follows (once for
    // a caller, however often it calls meanwhile); asking() is raised when
    // the caller starts waiting for a list.
    Verdict check(const QHostAddress &from, const QString &callsign, QString *why);
    bool waiting(const QHostAddress &from) const;
    int waitingCount() const { return int(m_waiting.size()); }
    // The caller left before it was decided: it is not decided at all.
    void forget(const QHostAddress &from);
    // For tests: the refresh the gap put off is asked for now.
    void refreshNow() { askForList(true); }

signals:
    void asking(const QHostAddress &from, const QString &callsign);
    void decided(const QHostAddress &from, const QString &callsign, bool pass, const QString &why);

private:
    struct Waiting {
        QHostAddress from;
        QString callsign;
        int list = -1;   // the list request that decides it, -1: not asked yet (or listed already)
        qint64 heard = 0;
    };
    Verdict judge(const QHostAddress &from, const QString &callsign, bool final, QString *why) const;
    void askForList(bool force);
    void listEnded(bool failed, const QString &why);
    // Decides callers from the first on while it can; `ended` the last list
    // that ended (-1: none new, only those listed already go).
    void settle(int ended, bool failed, const QString &failure);

    Directory *m_directory;
    AddressRanges m_allowed;
    Clock m_clock;
    QList<Waiting> m_waiting;   // in the order they called
    qint64 m_lastAsked = -1;
    QTimer m_gap;
};

} // namespace mirelva::echolink
