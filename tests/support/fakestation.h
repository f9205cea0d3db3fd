#pragma once

#include <QJsonArray>
#include <QJsonDocument>

#include "core/stationport.h"

namespace mirelva::test {

// A station port with no windows behind it, for the web console's tests:
// it keeps what it was asked, answers what the test says, and finishes a
// settings change only when the test lets it (as a press waits for an
// announcement on air).
class FakeStation : public StationPort {
public:
    bool loaded = true;
    QJsonObject settings{{"windows", QJsonArray{}}};
    QJsonObject live{{"ptt", false}, {"rx", false}};
    QStringList history, chat;
    QString refusal;                          // what run() answers
    Outcome outcome{200, {{"ok", true}}};     // what a change ends in
    QStringList asked;                        // "run speak {...} from", "change main KEY=value (was) from"
    QList<std::function<void()>> waiting;     // changes not yet done

    bool ready() const override { return loaded; }
    QJsonObject describeSettings() const override { return settings; }
    QJsonObject settingValues(const QString &) const override { return {}; }
    void changeSettings(const QString &window, const QList<Change> &changes, const QString &from,
                        std::function<void(const Outcome &)> done) override
    {
        QStringList c;
        for (const Change &x : changes)
            c << QStringLiteral("%1=%2 (%3)").arg(x.key, x.value, x.was);
        asked << QStringLiteral("change %1 %2 %3").arg(window, c.join(QLatin1Char(' ')), from);
        waiting << [this, done] { done(outcome); };
    }
    QString run(const QString &action, const QJsonObject &arguments, const QString &from) override
    {
        QJsonObject a = arguments;
        a.remove(QStringLiteral("action"));
        a.remove(QStringLiteral("csrf"));
        asked << QStringLiteral("run %1 %2 %3")
                     .arg(action, QString::fromUtf8(QJsonDocument(a).toJson(QJsonDocument::Compact)), from);
        return refusal;
    }
    QJsonObject liveValues() const override { return live; }
    QStringList logLines(const QString &log, int most) const override
    {
        const QStringList &l = log == QLatin1String("history") ? history : chat;
        return l.mid(std::max<qsizetype>(0, l.size() - most));
    }
    // Lets the changes waiting so far have their turn.
    void finishChanges()
    {
        const auto now = std::exchange(waiting, {});
        for (const auto &f : now)
            f();
    }
};

} // namespace mirelva::test
