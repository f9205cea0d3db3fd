#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include "core/nodebackend.h"

namespace mirelva {

// The station's record of what went over the air and what was asked of the
// node: one line each, with the local time, on standard error and to anyone
// listening (the node console).
class OnAirLog : public QObject {
    Q_OBJECT
public:
    static OnAirLog &instance();

    static void request(const NodeRequest &r);
    static void transmission(const QString &kind, const QString &text);   // kind: "speech", "cw"
    static void note(const QString &text);                                // link state and the like
    // A line as the log writes it: the local time, then the text. Other lines
    // on standard error use it too, so the whole stream reads alike.
    static QString stamped(const QString &text, const QDateTime &when = QDateTime::currentDateTime());
    // The text with every control character (C0, DEL, C1, the Unicode line
    // and paragraph separators, the direction marks and isolates) written as \xHH or \uHHHH: what a remote
    // station names itself cannot start a line of its own in the log, nor
    // send escape sequences to the operator's terminal. Every line the log
    // writes goes through it, as does the node console's.
    static QString escaped(const QString &text);
    // A program's own error line on standard error ("mirelva-node: ..."),
    // stamped and escaped like the log's lines, written at once.
    static void complain(const QString &program, const QString &text);
    // Tests keep standard error quiet.
    static void setEchoToStderr(bool on);

signals:
    void line(const QString &text);

private:
    void emitLine(const QString &text);
    bool m_stderr = true;
};

} // namespace mirelva
