#pragma once

#include <functional>
#include <optional>

#include <QList>

#include "ui/settingtable.h"
#include "ui/station.h"
#include "core/stationport.h"

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace mirelva {

// The station port as the windows hold it: every setting is a window's own
// control, set as a hand sets it and saved by the window's own save button;
// every action is a window's own button. The one place that knows both the
// port and the windows: a remote console reaches the windows through here
// and nowhere else.
class WindowStation : public StationPort {
    Q_OBJECT
public:
    explicit WindowStation(Station &station, QObject *parent = nullptr);

    bool ready() const override;
    QJsonObject describeSettings() const override;
    QJsonObject settingValues(const QString &window) const override;
    void changeSettings(const QString &window, const QList<Change> &changes, const QString &from,
                        std::function<void(const Outcome &)> done) override;
    QString run(const QString &action, const QJsonObject &arguments, const QString &from) override;
    QJsonObject liveValues() const override;
    QStringList logLines(const QString &log, int most) const override;

    // What changeSettings does once its turn has come.
    Outcome changeNow(const QString &window, const QList<Change> &changes, const QString &from);

    // nodelink.ini on the page, beside the windows: which node, which sound
    // device, the transmit time-out, the record folder. Read at start, so a
    // change counts from the next start.
    static constexpr const char *kNodeWindow = "node";
    static QJsonObject describeNode();
    static QJsonObject nodeValues();
    static Outcome changeNode(const QList<Change> &changes, const QString &from);

    static constexpr int kMaxSpeechChars = 250;
    static constexpr int kMaxChatChars = 160;

private:
    struct Window {
        QString id;
        QString title;
        QWidget *widget;
        const SettingTable *table;
        QAbstractButton *saveButton;
        QString file;
        int capacity;
        // A value the save takes from elsewhere for now, and how the
        // operator changes it then (the main window's "Stay Con").
        std::function<std::optional<QString>(const Setting &)> kept = {};
        std::function<bool(const Setting &, const QString &)> setKept = {};
    };
    // The value as the window's save would write it.
    static QString shown(const Window &w, const Setting &s);
    QList<Window> windows() const;
    static QJsonObject values(const Window &w);
    void press(QAbstractButton *button, QLineEdit *box = nullptr, const QString &text = {});

    Station &m_station;
};

} // namespace mirelva
