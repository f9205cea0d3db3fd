#include "web/websettingsapi.h"

#include <map>

#include <QAbstractButton>
#include <QJsonArray>
#include <QScrollBar>

#include "announcer/mainwindow.h"
#include "core/onairlog.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "speech_settings/speechsettingswindow.h"

namespace mirelva {

namespace {

QString kindName(Setting::Kind k)
{
    switch (k) {
    case Setting::Kind::Check:
        return QStringLiteral("check");
    case Setting::Kind::Option:
        return QStringLiteral("option");
    case Setting::Kind::Bar:
        return QStringLiteral("bar");
    default:
        return QStringLiteral("text");
    }
}

const Setting *find(const SettingTable &table, const QString &key)
{
    for (const Setting &s : table)
        if (s.onPage() && s.key.compare(key, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

// Where Tab reaches each control: the order the window is read in.
std::map<const QWidget *, int> readingOrder(QWidget *window)
{
    std::map<const QWidget *, int> order;
    int n = 0;
    for (QWidget *w = window->nextInFocusChain(); w && w != window && n < 100000; w = w->nextInFocusChain())
        order.emplace(w, n++);
    return order;
}

} // namespace

SettingsPage::SettingsPage(Station &station, QObject *parent) : QObject(parent), m_station(station) {}

QList<SettingsPage::Window> SettingsPage::windows() const
{
    QList<Window> l;
    if (MainWindow *w = m_station.main)
        l.append({QStringLiteral("main"), QStringLiteral("Main window"), w, &MainWindow::settingTable(),
                  w->SaveDataNow, MainWindow::iniName(), MainWindow::kIniCapacity});
    if (DtmfWindow *w = m_station.dtmf)
        l.append({QStringLiteral("dtmf"), QStringLiteral("DTMF window: codes, stations, groups and nets"), w,
                  &DtmfWindow::settingTable(), w->Command2, DtmfWindow::iniName(), DtmfWindow::kIniCapacity});
    if (GreetingWindow *w = m_station.greeting)
        l.append({QStringLiteral("greeting"), QStringLiteral("Greeting window"), w, &GreetingWindow::settingTable(),
                  w->Command2, GreetingWindow::iniName(), GreetingWindow::kIniCapacity});
    if (MessageBoxWindow *w = m_station.messageBox)
        l.append({QStringLiteral("messagebox"), QStringLiteral("Message box"), w, &MessageBoxWindow::settingTable(),
                  w->SaveIt, MessageBoxWindow::iniName(), MessageBoxWindow::kIniCapacity});
    if (SpeechSettingsWindow *w = m_station.speechSettings)
        l.append({QStringLiteral("voice"), QStringLiteral("Voice"), w, &SpeechSettingsWindow::settingTable(),
                  w->Command2, SpeechSettingsWindow::iniName(), SpeechSettingsWindow::kIniCapacity});
    return l;
}

QJsonObject SettingsPage::values(const Window &w)
{
    QJsonObject o;
    for (const Setting &s : *w.table)
        if (s.onPage())
            o.insert(s.key, SettingTables::storedText(w.widget, s));
    return o;
}

QJsonObject SettingsPage::describe() const
{
    QJsonArray out;
    for (const Window &w : windows()) {
        const auto order = readingOrder(w.widget);
        QList<const Setting *> settings;
        for (const Setting &s : *w.table)
            if (s.onPage())
                settings.append(&s);
        const auto place = [&](const Setting *s) {
            const auto it = order.find(SettingTables::controlOf(w.widget, *s));
            return it == order.end() ? int(order.size()) : it->second;
        };
        std::stable_sort(settings.begin(), settings.end(),
                         [&](const Setting *a, const Setting *b) { return place(a) < place(b); });
        QStringList groupNames;
        std::map<QString, QJsonArray> groups;
        for (const Setting *s : settings) {
            QWidget *c = SettingTables::controlOf(w.widget, *s);
            QString group = SettingTables::groupOf(w.widget, *s);
            if (group.isEmpty())
                group = w.title;
            if (!groups.count(group))
                groupNames << group;
            QJsonObject o{{QStringLiteral("key"), s->key},
                          {QStringLiteral("label"), SettingTables::labelOf(w.widget, *s)},
                          {QStringLiteral("meaning"), s->meaning},
                          {QStringLiteral("kind"), kindName(s->kind)},
                          {QStringLiteral("value"), SettingTables::storedText(w.widget, *s)}};
            if (const auto *box = qobject_cast<const TextBox *>(c)) {
                o.insert(QStringLiteral("limit"), box->typingLimit() > 0 ? box->typingLimit() : w.capacity - 1);
                o.insert(QStringLiteral("digits"), box->digitsOnly());
                o.insert(QStringLiteral("upper"), box->upperCase());
                o.insert(QStringLiteral("twoDigits"), s->twoDigits);
            }
            if (s->hasRange()) {
                o.insert(QStringLiteral("least"), s->least);
                o.insert(QStringLiteral("most"), s->most);
            }
            if (const auto *bar = qobject_cast<const QScrollBar *>(c)) {
                o.insert(QStringLiteral("least"), bar->minimum());
                o.insert(QStringLiteral("most"), bar->maximum());
            }
            if (const auto *b = qobject_cast<const OptionButton *>(c))
                o.insert(QStringLiteral("group"), b->group() ? b->group()->objectName() : b->objectName());
            groups[group].append(o);
        }
        QJsonArray g;
        for (const QString &name : groupNames)
            g.append(QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("settings"), groups[name]}});
        out.append(QJsonObject{{QStringLiteral("id"), w.id},
                               {QStringLiteral("title"), w.title},
                               {QStringLiteral("file"), w.file},
                               {QStringLiteral("groups"), g}});
    }
    return {{QStringLiteral("windows"), out}};
}

SettingsPage::Outcome SettingsPage::save(const QJsonObject &request, const QString &from)
{
    const auto refuse = [](int status, const QString &error, const QJsonObject &fields = {},
                           const QJsonObject &current = {}) {
        QJsonObject body{{QStringLiteral("error"), error}};
        if (!fields.isEmpty())
            body.insert(QStringLiteral("fields"), fields);
        if (!current.isEmpty())
            body.insert(QStringLiteral("values"), current);
        return Outcome{status, body};
    };
    if (!m_station.main || !m_station.main->otherWindowsLoaded())
        return refuse(503, QStringLiteral("The station is still loading."));
    const QString id = request.value(QStringLiteral("window")).toString();
    const QList<Window> all = windows();
    const auto w = std::find_if(all.begin(), all.end(), [&id](const Window &x) { return x.id == id; });
    if (w == all.end())
        return refuse(400, QStringLiteral("No such window."));

    struct Change {
        const Setting *setting;
        QString value;
    };
    QList<Change> changes;
    QJsonObject conflicts, refusals;
    QStringList conflictText, refusalText;
    for (const QJsonValue &v : request.value(QStringLiteral("changes")).toArray()) {
        const QJsonObject c = v.toObject();
        const Setting *s = find(*w->table, c.value(QStringLiteral("key")).toString());
        if (!s || !c.value(QStringLiteral("value")).isString() || !c.value(QStringLiteral("was")).isString())
            return refuse(400, QStringLiteral("No such setting: %1.").arg(c.value(QStringLiteral("key")).toString().left(40)));
        const QString label = SettingTables::labelOf(w->widget, *s);
        const QString now = SettingTables::storedText(w->widget, *s);
        if (now != c.value(QStringLiteral("was")).toString()) {
            const QString text = QStringLiteral("%1 was changed elsewhere to \"%2\" since this page loaded it; the page "
                                                "now shows it. Make your change again if it still should be.")
                                     .arg(label, now);
            conflicts.insert(s->key, text);
            conflictText << text;
            continue;
        }
        QString value = c.value(QStringLiteral("value")).toString();
        const QString why = SettingTables::refusal(w->widget, *s, &value, w->capacity);
        if (!why.isEmpty()) {
            refusals.insert(s->key, why);
            refusalText << why;
            continue;
        }
        changes.append({s, value});
    }
    if (!conflicts.isEmpty())
        return refuse(409, QStringLiteral("Nothing was saved. ") + conflictText.join(QLatin1Char(' ')), conflicts,
                      values(*w));
    if (!refusals.isEmpty())
        return refuse(400, QStringLiteral("Nothing was saved. ") + refusalText.join(QLatin1Char(' ')), refusals);

    // Made in the window's own controls, in the order its load sets them,
    // so each acts as the same change made by hand.
    std::stable_sort(changes.begin(), changes.end(), [w](const Change &a, const Change &b) {
        return std::distance(w->table->data(), a.setting) < std::distance(w->table->data(), b.setting);
    });
    for (const Change &c : changes) {
        OnAirLog::note(QStringLiteral("web: set %1 %2 to \"%3\" (%4)").arg(w->file, c.setting->key, c.value, from));
        SettingTables::apply(w->widget, *c.setting, c.value);
    }
    // The window's save button, as a hand presses it: one replacement of
    // the file. A failure is told through the settings reports.
    QString failure;
    const auto watch = connect(&SettingsReports::instance(), &SettingsReports::problem, this,
                               [&failure, file = w->file](const QString &f, const QString &text) {
                                   if (f == file)
                                       failure = text;
                               });
    w->saveButton->click();
    disconnect(watch);
    if (!failure.isEmpty())
        return refuse(500, failure, {}, values(*w));
    OnAirLog::note(QStringLiteral("web: saved %1 (%2)").arg(w->file, from));
    emit saved(w->id);
    return {200, {{QStringLiteral("ok"), true}, {QStringLiteral("values"), values(*w)}}};
}

} // namespace mirelva
