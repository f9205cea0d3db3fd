#include "station/windowstation.h"

#include <map>

#include <QAbstractButton>
#include <QJsonArray>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>

#include "announcer/mainwindow.h"
#include "core/nodelinkconfig.h"
#include "core/nodebackend.h"
#include "core/onairlog.h"
#include "ui/program.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "node/link/nodeprotocol.h"
#include "speech_settings/speechsettingswindow.h"

namespace mirelva {

namespace {

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

// A text typed on the page, as a box on the window would hold it: no
// control characters, trimmed, bounded.
QString cleanText(const QString &text, int maxChars)
{
    QString out;
    for (QChar c : text)
        if (c.category() != QChar::Other_Control)
            out.append(c);
    return MainWindow::boundedText(out.trimmed(), maxChars);
}

// The box's newest lines, escaped as the on-air log escapes them: a
// station's name or chat text cannot turn the page's text around.
QStringList tail(const QPlainTextEdit *box, int lines)
{
    QStringList texts;
    if (!box)
        return texts;
    for (QTextBlock b = box->document()->lastBlock(); b.isValid() && texts.size() < lines; b = b.previous())
        texts.prepend(OnAirLog::escaped(b.text()));
    while (!texts.isEmpty() && texts.last().isEmpty())
        texts.removeLast();
    return texts;
}

// A countdown or value label as the page shows it: its caption, the same
// words a screen reader is given for it, and its value.
QJsonObject labelled(const QLabel *l)
{
    return QJsonObject{{QStringLiteral("id"), l->objectName()},
                       {QStringLiteral("label"), l->accessibleName()},
                       {QStringLiteral("value"), l->text().trimmed()}};
}

} // namespace

WindowStation::WindowStation(Station &station, QObject *parent) : StationPort(parent), m_station(station)
{
    if (NodeBackend *node = m_station.node) {
        connect(node, &NodeBackend::stateChanged, this, [this] { emit liveChanged(true); });
        // A screen reader on the page hears who came and went, and what they said.
        connect(node, &NodeBackend::connected, this, [this](const QString &call, const QString &name, const QString &) {
            emit tell(name.trimmed().isEmpty() ? call + QStringLiteral(" connected")
                                               : call + QLatin1Char(' ') + name.trimmed() + QStringLiteral(" connected"));
        });
        connect(node, &NodeBackend::Disconnected, this,
                [this](const QString &call) { emit tell(call + QStringLiteral(" disconnected")); });
    }
    // Chat as the station's own screen reader hears it: a burst told as one.
    if (m_station.messageBox)
        connect(m_station.messageBox, &MessageBoxWindow::chatTold, this,
                [this](const QString &words) { emit tell(words.trimmed()); });
    if (m_station.main)
        connect(m_station.main->CallHistory, &QPlainTextEdit::textChanged, this,
                [this] { emit logChanged(QStringLiteral("history")); });
    if (m_station.messageBox)
        connect(m_station.messageBox->IncomingText, &QPlainTextEdit::textChanged, this,
                [this] { emit logChanged(QStringLiteral("chat")); });
}

bool WindowStation::ready() const { return m_station.main && m_station.main->otherWindowsLoaded(); }

QList<WindowStation::Window> WindowStation::windows() const
{
    QList<Window> l;
    if (MainWindow *w = m_station.main)
        l.append({QStringLiteral("main"), QStringLiteral("Main window"), w, &MainWindow::settingTable(),
                  w->SaveDataNow, MainWindow::iniName(), MainWindow::kIniCapacity,
                  [w](const Setting &s) { return w->keptText(s); },
                  [w](const Setting &s, const QString &v) { return w->setKept(s, v); }});
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

QString WindowStation::shown(const Window &w, const Setting &s)
{
    if (w.kept)
        if (const std::optional<QString> kept = w.kept(s))
            return *kept;
    return SettingTables::storedText(w.widget, s);
}

QJsonObject WindowStation::values(const Window &w)
{
    QJsonObject o;
    for (const Setting &s : *w.table)
        if (s.onPage())
            o.insert(s.key, shown(w, s));
    return o;
}

QJsonObject WindowStation::settingValues(const QString &window) const
{
    if (window == QLatin1String(kNodeWindow))
        return nodeValues();
    for (const Window &w : windows())
        if (w.id == window)
            return values(w);
    return {};
}

QJsonObject WindowStation::describeSettings() const
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
            QString group = SettingTables::groupOf(w.widget, *s);
            if (group.isEmpty())
                group = w.title;
            if (!groups.count(group))
                groupNames << group;
            QJsonObject o = SettingTables::describe(w.widget, *s, w.capacity);
            o.insert(QStringLiteral("value"), shown(w, *s));
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
    out.append(describeNode());
    return {{QStringLiteral("windows"), out}};
}

void WindowStation::changeSettings(const QString &window, const QList<Change> &changes, const QString &from,
                                   std::function<void(const Outcome &)> done)
{
    // In turn with the presses: a change made while an announcement holds
    // the air acts once the transmitter is released, as a typed one would.
    Program::post(this, [this, window, changes, from, done = std::move(done)] {
        const Outcome out = changeNow(window, changes, from);
        if (done)
            done(out);
    });
}

WindowStation::Outcome WindowStation::changeNow(const QString &id, const QList<Change> &requested, const QString &from)
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
    if (!ready())
        return refuse(503, QStringLiteral("The station is still loading."));
    if (id == QLatin1String(kNodeWindow)) {
        const Outcome out = changeNode(requested, from);
        if (out.status == 200)
            emit settingsSaved(id);
        return out;
    }
    const QList<Window> all = windows();
    const auto w = std::find_if(all.begin(), all.end(), [&id](const Window &x) { return x.id == id; });
    if (w == all.end())
        return refuse(400, QStringLiteral("No such window."));

    struct Accepted {
        const Setting *setting;
        QString value;
    };
    QList<Accepted> changes;
    QJsonObject conflicts, refusals;
    QStringList conflictText, refusalText;
    for (const Change &c : requested) {
        const Setting *s = find(*w->table, c.key);
        if (!s)
            return refuse(400, QStringLiteral("No such setting: %1.").arg(c.key.left(40)));
        const QString label = SettingTables::labelOf(w->widget, *s);
        const QString now = shown(*w, *s);
        if (now != c.was) {
            const QString text = QStringLiteral("%1 was changed elsewhere to \"%2\" since this page loaded it; the page "
                                                "now shows it. Make your change again if it still should be.")
                                     .arg(label, now);
            conflicts.insert(s->key, text);
            conflictText << text;
            continue;
        }
        QString value = c.value;
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
        return refuse(400, QStringLiteral("Nothing was saved. ") + refusalText.join(QLatin1Char(' ')), refusals,
                      values(*w));

    // Made in the window's own controls, in the order its load sets them,
    // so each acts as the same change made by hand.
    std::stable_sort(changes.begin(), changes.end(), [w](const Accepted &a, const Accepted &b) {
        return std::distance(w->table->data(), a.setting) < std::distance(w->table->data(), b.setting);
    });
    for (const Accepted &c : changes) {
        OnAirLog::note(QStringLiteral("web: set %1 %2 to \"%3\" (%4)").arg(w->file, c.setting->key, c.value, from));
        if (!w->setKept || !w->setKept(*c.setting, c.value))
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
    emit settingsSaved(w->id);
    return {200, {{QStringLiteral("ok"), true}, {QStringLiteral("values"), values(*w)}}};
}

// ---- nodelink.ini ---------------------------------------------------------------

namespace {

struct NodeField {
    const char *key;
    const char *label;
    const char *meaning;
};
constexpr NodeField kNodeFields[] = {
    {"ADDRESS", "Node address",
     "The node Mirelva drives: empty for the built-in simulated node, unix:PATH or tcp:HOST:PORT for a node program "
     "(mirelva-echolink, mirelva-svxlink, mirelva-node)."},
    {"AUDIODEVICE", "Sound device",
     "The ALSA device the voice plays on (empty: default); node: the node program plays the speech."},
    {"TXTIMEOUT", "Transmit time-out, seconds", "The longest one keyed transmission may last."},
    {"RECORDDIR", "Record folder", "When set, every spoken text is also written there as a WAV file."},
};

QString nodeText(const char *key)
{
    return IniFile(QStringLiteral("nodelink.ini"), NodeLinkConfig::kCapacity).text(QLatin1String(key), QString());
}

} // namespace

QJsonObject WindowStation::nodeValues()
{
    QJsonObject o;
    for (const NodeField &f : kNodeFields)
        o.insert(QLatin1String(f.key), nodeText(f.key));
    return o;
}

QJsonObject WindowStation::describeNode()
{
    using C = NodeLinkConfig;
    QJsonArray settings;
    for (const NodeField &f : kNodeFields) {
        QJsonObject o{{QStringLiteral("key"), QLatin1String(f.key)},
                      {QStringLiteral("label"), QLatin1String(f.label)},
                      {QStringLiteral("meaning"), QLatin1String(f.meaning)},
                      {QStringLiteral("kind"), QStringLiteral("text")},
                      {QStringLiteral("value"), nodeText(f.key)},
                      {QStringLiteral("limit"), C::kCapacity - 1},
                      {QStringLiteral("digits"), false},
                      {QStringLiteral("upper"), false}};
        if (qstrcmp(f.key, "TXTIMEOUT") == 0) {
            o.insert(QStringLiteral("digits"), true);
            o.insert(QStringLiteral("limit"), 3);
            o.insert(QStringLiteral("least"), C::kMinTransmitTimeoutSeconds);
            o.insert(QStringLiteral("most"), C::kMaxTransmitTimeoutSeconds);
            o.insert(QStringLiteral("empty"), QString::number(C::kDefaultTransmitTimeoutSeconds));
        }
        settings.append(o);
    }
    return {{QStringLiteral("id"), QLatin1String(kNodeWindow)},
            {QStringLiteral("title"), QStringLiteral("Node and sound")},
            {QStringLiteral("file"), QStringLiteral("nodelink.ini")},
            {QStringLiteral("note"), QStringLiteral("Read when Mirelva starts: a change takes effect when Mirelva is "
                                                    "started again (systemctl --user restart mirelva-headless).")},
            {QStringLiteral("groups"),
             QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("Node and sound")},
                                    {QStringLiteral("settings"), settings}}}}};
}

WindowStation::Outcome WindowStation::changeNode(const QList<Change> &changes, const QString &from)
{
    using C = NodeLinkConfig;
    QJsonObject refusals, conflicts;
    QStringList refusalText, conflictText;
    QList<std::pair<QString, QString>> entries;
    for (const Change &c : changes) {
        const auto f = std::find_if(std::begin(kNodeFields), std::end(kNodeFields),
                                    [&c](const NodeField &x) { return c.key.compare(QLatin1String(x.key), Qt::CaseInsensitive) == 0; });
        if (f == std::end(kNodeFields))
            return {400, {{QStringLiteral("error"), QStringLiteral("No such setting: %1.").arg(c.key.left(40))}}};
        const QString key = QLatin1String(f->key), label = QLatin1String(f->label);
        const QString now = nodeText(f->key);
        if (now != c.was) {
            const QString text = QStringLiteral("%1 was changed elsewhere to \"%2\" since this page loaded it; the page "
                                                "now shows it. Make your change again if it still should be.")
                                     .arg(label, now);
            conflicts.insert(key, text);
            conflictText << text;
            continue;
        }
        // As a window's text box is checked, and then as the program reads
        // the value at its start.
        const QString v = c.value;
        QString why;
        if (std::any_of(v.begin(), v.end(), [](QChar ch) { return ch.category() == QChar::Other_Control; }))
            why = QStringLiteral("%1: a setting holds no control characters or line breaks.").arg(label);
        else if (!SettingsStore::storable(v))
            why = QStringLiteral("%1: Windows-1252 letters only (the settings file cannot hold the others).").arg(label);
        else if (v != v.trimmed() || (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()))
            why = QStringLiteral("%1: no blanks at the start or end, and no quotes around the whole text (the settings "
                                 "file drops them).")
                      .arg(label);
        else if (v.size() > C::kCapacity - 1)
            why = QStringLiteral("%1: at most %2 characters (the settings file keeps no more).").arg(label).arg(C::kCapacity - 1);
        else if (key == QLatin1String("ADDRESS") && !v.isEmpty()) {
            QString error;
            if (!nodelink::NodeAddress::parse(v, &error))
                why = QStringLiteral("%1: %2; the program would use the built-in simulated node.").arg(label, error);
        } else if (key == QLatin1String("TXTIMEOUT") && !v.isEmpty()) {
            bool ok = false;
            const int n = v.size() <= 9 ? v.toInt(&ok) : 0;
            if (!ok || !std::all_of(v.begin(), v.end(), [](QChar ch) { return ch >= '0' && ch <= '9'; }))
                why = QStringLiteral("%1: digits 0 to 9 only; the program would use %2.").arg(label).arg(C::kDefaultTransmitTimeoutSeconds);
            else if (n < C::kMinTransmitTimeoutSeconds || n > C::kMaxTransmitTimeoutSeconds)
                why = QStringLiteral("%1: a number from %2 to %3; the program would use %4.")
                          .arg(label)
                          .arg(C::kMinTransmitTimeoutSeconds)
                          .arg(C::kMaxTransmitTimeoutSeconds)
                          .arg(std::clamp(n, C::kMinTransmitTimeoutSeconds, C::kMaxTransmitTimeoutSeconds));
        }
        if (!why.isEmpty()) {
            refusals.insert(key, why);
            refusalText << why;
            continue;
        }
        entries.append({key, v});
    }
    const auto refuse = [](int status, const QStringList &text, const QJsonObject &fields) {
        return Outcome{status, {{QStringLiteral("error"), QStringLiteral("Nothing was saved. ") + text.join(QLatin1Char(' '))},
                                {QStringLiteral("fields"), fields},
                                {QStringLiteral("values"), nodeValues()}}};
    };
    if (!conflicts.isEmpty())
        return refuse(409, conflictText, conflicts);
    if (!refusals.isEmpty())
        return refuse(400, refusalText, refusals);
    for (const auto &[key, value] : entries)
        OnAirLog::note(QStringLiteral("web: set nodelink.ini %1 to \"%2\" (%3)").arg(key, value, from));
    if (const SaveResult saved = SettingsStore::writeAll(QStringLiteral("nodelink.ini"), entries); !saved)
        return {500, {{QStringLiteral("error"), saved.reason}, {QStringLiteral("values"), nodeValues()}}};
    OnAirLog::note(QStringLiteral("web: saved nodelink.ini (%1)").arg(from));
    return {200, {{QStringLiteral("ok"), true},
                  {QStringLiteral("note"), QStringLiteral("It takes effect when Mirelva is started again.")},
                  {QStringLiteral("values"), nodeValues()}}};
}

void WindowStation::press(QAbstractButton *button, QLineEdit *box, const QString &text)
{
    // A button's handler may key the transmitter and hold the thread: it
    // runs once this request has been answered, and waits while the station
    // speaks, as a click does. A text goes into its box as the press comes,
    // so a press that waited says its own text, not a later request's.
    Program::post(this, [b = QPointer<QAbstractButton>(button), box = QPointer<QLineEdit>(box), text] {
        if (box)
            box->setText(text);
        if (b)
            b->click();
    });
}

QString WindowStation::run(const QString &action, const QJsonObject &arguments, const QString &from)
{
    MainWindow *m = m_station.main;
    if (!ready())
        return QStringLiteral("The station is still loading.");
    const bool on = arguments.value(QStringLiteral("on")).toBool();
    const int n = arguments.value(QStringLiteral("n")).toInt();
    auto log = [&from](const QString &what) { OnAirLog::note(QStringLiteral("web: %1 (%2)").arg(what, from)); };

    if (action == QLatin1String("speak") || action == QLatin1String("speakNoPtt")) {
        const QString text = cleanText(arguments.value(QStringLiteral("text")).toString(), kMaxSpeechChars);
        if (text.isEmpty())
            return QStringLiteral("Type a text to speak first.");
        const bool keyed = action == QLatin1String("speak");
        log(QStringLiteral("speak %1: %2").arg(keyed ? QStringLiteral("with PTT") : QStringLiteral("without PTT"), text));
        press(keyed ? m->Speak3 : m->TextNoPTT3, m->TextInput3, text);
    } else if (action == QLatin1String("time")) {
        log(QStringLiteral("say the time"));
        press(m->TheTime);
    } else if (action == QLatin1String("ident")) {
        log(QStringLiteral("voice ident now"));
        press(m->SayCall);
    } else if (action == QLatin1String("cw")) {
        log(QStringLiteral("Morse ident now"));
        press(m->SendCW);
    } else if (action == QLatin1String("silence")) {
        log(on ? QStringLiteral("silence on") : QStringLiteral("silence off"));
        m->Check1->setValue(on ? 1 : 0);
    } else if (action == QLatin1String("greeting")) {
        if (!m_station.greeting)
            return QStringLiteral("The greeting window is not loaded.");
        log(on ? QStringLiteral("greeting on") : QStringLiteral("greeting off"));
        m_station.greeting->UseGreeting->setValue(on ? 1 : 0);
    } else if (action == QLatin1String("chat")) {
        MessageBoxWindow *box = m_station.messageBox;
        if (!box)
            return QStringLiteral("The message box is not loaded.");
        const QString text = cleanText(arguments.value(QStringLiteral("text")).toString(), kMaxChatChars);
        if (text.isEmpty())
            return QStringLiteral("Type a chat text first.");
        log(QStringLiteral("chat text: ") + text);
        press(box->Send, box->TextTX, text);
    } else if (action == QLatin1String("station")) {
        DtmfWindow *d = m_station.dtmf;
        if (!d)
            return QStringLiteral("The DTMF window is not loaded.");
        const TextBox *calls[8] = {d->Call1, d->Call2, d->Call3, d->Call4, d->Call5, d->Call6, d->Call7, d->Call8};
        QPushButton *buttons[8] = {d->Command7, d->Command8, d->Command9, d->Command10,
                                   d->Command11, d->Command12, d->Command13, d->Command15};
        if (n < 1 || n > 8 || calls[n - 1]->text().trimmed().isEmpty())
            return QStringLiteral("No such station.");
        log(QStringLiteral("connect/disconnect station %1 (%2)").arg(n).arg(calls[n - 1]->text().trimmed().toUpper()));
        press(buttons[n - 1]);
    } else if (action == QLatin1String("group")) {
        DtmfWindow *d = m_station.dtmf;
        if (!d)
            return QStringLiteral("The DTMF window is not loaded.");
        if (n != 1 && n != 2)
            return QStringLiteral("No such group.");
        log(QStringLiteral("%1 group %2").arg(on ? QStringLiteral("connect") : QStringLiteral("disconnect")).arg(n));
        press(n == 1 ? (on ? d->Command3 : d->Command4) : (on ? d->Command5 : d->Command6));
    } else {
        return QStringLiteral("Unknown action.");
    }
    emit liveChanged(false);
    return {};
}

QJsonObject WindowStation::liveValues() const
{
    QJsonObject o;
    const NodeBackend *node = m_station.node;
    const MainWindow *m = m_station.main;
    o.insert(QStringLiteral("ptt"), node && node->state().transmitterKeyed);
    o.insert(QStringLiteral("rx"), node && node->state().receivingSignal);
    o.insert(QStringLiteral("node"), node ? (node->online() ? node->describe() : node->describe() + QStringLiteral(" (offline)"))
                                          : QString());
    o.insert(QStringLiteral("callsign"), node ? node->state().localStation : QString());
    QJsonArray connected;
    if (node)
        for (const QString &c : node->state().connected)
            connected.append(c);
    o.insert(QStringLiteral("connected"), connected);
    if (!m)
        return o;
    o.insert(QStringLiteral("clock"), m->ShowTime->text());
    o.insert(QStringLiteral("silence"), m->Check1->value() == 1);
    if (m_station.greeting)
        o.insert(QStringLiteral("greeting"), m_station.greeting->UseGreeting->value() == 1);

    QJsonArray countdowns;
    for (const QLabel *l : {m->BeaconSeconds6, m->BeaconSeconds7, m->BeaconSeconds3, m->IDSeconds, m->FanSeconds,
                            m->DelaySeconds})
        countdowns.append(labelled(l));
    if (const DtmfWindow *d = m_station.dtmf)
        for (const QLabel *l : {d->BeaconSeconds, d->DTMFDelayPeriod, d->DiscPeriod1, d->DiscPeriod2, d->DiscPeriod3,
                                d->DiscPeriod4})
            countdowns.append(labelled(l));
    if (m_station.greeting)
        countdowns.append(labelled(m_station.greeting->BeaconSecondsDelay));
    o.insert(QStringLiteral("countdowns"), countdowns);

    if (const DtmfWindow *d = m_station.dtmf) {
        const QStringList now = node ? node->state().connected : QStringList();
        auto entry = [&now](const TextBox *box) {
            const QString call = box->text().trimmed().toUpper();
            return QJsonObject{{QStringLiteral("call"), call},
                               {QStringLiteral("connected"), !call.isEmpty() && now.contains(call, Qt::CaseInsensitive)}};
        };
        QJsonArray stations;
        for (const TextBox *b : {d->Call1, d->Call2, d->Call3, d->Call4, d->Call5, d->Call6, d->Call7, d->Call8})
            stations.append(entry(b));
        o.insert(QStringLiteral("stations"), stations);
        QJsonArray groups;
        for (const auto &g : {std::array{d->GroupCall1, d->GroupCall2, d->GroupCall3},
                              std::array{d->GroupCall4, d->GroupCall5, d->GroupCall6}}) {
            QJsonArray calls;
            for (const TextBox *b : g)
                if (!b->text().trimmed().isEmpty())
                    calls.append(entry(b));
            groups.append(calls);
        }
        o.insert(QStringLiteral("groups"), groups);
    }
    return o;
}

QStringList WindowStation::logLines(const QString &log, int most) const
{
    if (log == QLatin1String("history"))
        return tail(m_station.main ? m_station.main->CallHistory : nullptr, most);
    if (log == QLatin1String("chat"))
        return tail(m_station.messageBox ? m_station.messageBox->IncomingText : nullptr, most);
    return {};
}

} // namespace mirelva
