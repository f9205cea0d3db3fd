#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

namespace mirelva {

class VbTimer;

// On-air log lines of one kind that anyone outside can cause at will (a
// wrong password, a refused request): the first kLinesAMinute of a minute
// are written each; the rest are counted, with the addresses they came from,
// and told in one line once the minute is over ("web: 57 more refused
// requests in the minute, from 3 addresses (a, b, c)"), at the next such line
// or the next second, whichever comes first. So a flood writes at most
// kLinesAMinute + 1 lines a minute however fast it comes, and holds at most
// kMostAddresses addresses.
class MinuteLog : public QObject {
    Q_OBJECT
public:
    // what: the kind, in the plural, as the count line names it.
    MinuteLog(const QString &what, QObject *parent = nullptr);

    void note(const QString &line, const QString &from);
    // Once a second while something is untold (and from tests, with Clock set).
    void tick();
    int untold() const { return m_untold; }

    static constexpr int kLinesAMinute = 5;
    static constexpr int kMostAddresses = 100;

private:
    void closeMinute(qint64 now);

    QString m_what;
    VbTimer *m_timer;
    qint64 m_minuteStart = 0;
    int m_linesThisMinute = 0;
    int m_untold = 0;
    QStringList m_untoldFrom;        // in the order they came
    QSet<QString> m_untoldSet;
};

} // namespace mirelva
