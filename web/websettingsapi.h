#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

#include "ui/settingtable.h"
#include "ui/station.h"

class QAbstractButton;

namespace mirelva {

// The windows' settings on the web console's page: every setting of every
// window's table, grouped as the window shows it, and a page's changes made
// in the window's own controls and saved by the window's own save button.
//
// A change carries the value the page showed when it loaded ("was"); if the
// control holds something else by then (another page, the window, a DTMF
// code changed it), the whole save is refused and the page is given the
// current values. A value the control would not take is refused naming the
// field, and nothing is set or saved.
class SettingsPage : public QObject {
    Q_OBJECT
public:
    explicit SettingsPage(Station &station, QObject *parent = nullptr);

    // {"windows": [{"id", "title", "file", "groups": [{"name", "settings": [...]}]}]}
    QJsonObject describe() const;

    struct Outcome {
        int status;          // 200 saved; 400 refused; 409 changed elsewhere; 503 not loaded yet
        QJsonObject body;    // "error" and "fields" (key: message) when refused; "values" of the window
    };
    // {"window": id, "changes": [{"key", "value", "was"}]}
    Outcome save(const QJsonObject &request, const QString &from);

    // A window's changes all at once (a first set-up of the DTMF window
    // sends a hundred fields): more than one action, from a session only.
    static constexpr int kMaxBodyBytes = 65536;

signals:
    // A window's settings changed through the page: other pages show them anew.
    void saved(const QString &window);

private:
    struct Window {
        QString id;
        QString title;
        QWidget *widget;
        const SettingTable *table;
        QAbstractButton *saveButton;
        QString file;
        int capacity;
    };
    QList<Window> windows() const;
    static QJsonObject values(const Window &w);

    Station &m_station;
};

} // namespace mirelva
