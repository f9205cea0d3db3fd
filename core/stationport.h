#pragma once

#include <functional>

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace mirelva {

// The station as a remote console sees it: its settings, its actions, its
// live values and its logs, and nothing of the widgets that hold them. The
// windows implement it once (station/windowstation.h); the web console
// talks to nothing else, so it needs no window and no widget, and its tests
// can run it against a port of their own.
//
// What the port does, it does as the windows do: a setting is set in the
// window's own control, as a hand would set it, and saved by the window's
// own save; an action is the window's own button. Both wait, as a click
// does, while a keyed announcement holds the air, and run in the order they
// came.
class StationPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~StationPort() override = default;

    // The windows are all loaded: before, nothing is set or run.
    virtual bool ready() const = 0;

    // Every setting of every window, grouped as the window shows it:
    // {"windows": [{"id", "title", "file", "groups": [{"name", "settings": [...]}]}]}
    // A setting carries its "key", "label", "meaning", "kind" and "value",
    // and, where they apply, its limits and "locked" (why the window holds
    // it unchangeable now).
    virtual QJsonObject describeSettings() const = 0;
    // One window's settings as its file stores them: key -> text.
    virtual QJsonObject settingValues(const QString &window) const = 0;

    struct Change {
        QString key;
        QString value;
        QString was;   // what the page showed when it loaded the value
    };
    struct Outcome {
        int status;        // 200 saved; 400 refused; 409 changed elsewhere; 500 not saved; 503 not loaded yet
        QJsonObject body;  // "error" and "fields" (key: why) when refused; "values" of the window
    };
    // Sets the changes in the window's controls, each checked as the control
    // checks it, and saves the window, at the moment a press would act; all
    // or nothing. `done` is called once with the outcome (perhaps after the
    // announcement on air now), unless the port is gone by then.
    virtual void changeSettings(const QString &window, const QList<Change> &changes, const QString &from,
                                std::function<void(const Outcome &)> done) = 0;

    // Runs an action by name ("speak", "time", "station"...) as the window's
    // button does, at the moment a press would act. Empty when it was taken,
    // else why not, in words for the page.
    virtual QString run(const QString &action, const QJsonObject &arguments, const QString &from) = 0;

    // The values the page shows live, each with its caption.
    virtual QJsonObject liveValues() const = 0;
    // The newest lines (at most `most`) of a log the windows keep: "history"
    // or "chat", escaped as the on-air log escapes.
    virtual QStringList logLines(const QString &log, int most) const = 0;

signals:
    // A live value changed; `urgent`: the transmitter may be about to hold
    // the thread, so the pages should hear of it now.
    void liveChanged(bool urgent);
    // A log ("history", "chat") changed.
    void logChanged(const QString &log);
    // Words a screen reader on the page should hear (a station came, went,
    // or said something).
    void tell(const QString &words);
    // A window's settings changed through the port.
    void settingsSaved(const QString &window);
};

} // namespace mirelva
