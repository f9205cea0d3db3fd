// A station on air for days, lived through in seconds: the whole program
// (every window the main window loads) on the built-in simulated node, driven
// one simulated second at a time by a seeded stream of node events and faults,
// with the station's promises checked after every step.
//
// Deterministic: the clock is the test clock, the timers are ticked by the
// simulation rather than by the platform, the node answers at once, Morse
// ends at once, speech lasts a fixed time per character on the test clock.
// The same seed gives the same run, step for step, so a failure names the seed
// and the step that replay it:
//
//   MIRELVA_SIM_SEED=1234 MIRELVA_SIM_DAYS=30 build/tests/test_simulated_month
//
// (MIRELVA_SIM_DAYS may be a fraction.) Without them it runs a short stretch
// on a fixed seed (the test suite's run). Nothing in it may follow the order
// of a hash of addresses: windows, and so their timers and codes, are taken
// in a fixed order. Each run ends with a digest of every request and event;
// runs of one seed in separate processes must give the same one.
//
// Besides what never may happen (a key-up past the time-out, an event lost, a
// log or record growing without end, a settings file half written), promises
// about time: every second a silence schedule or a net is set for is acted on,
// even when speech held the thread across it, and only once, even when the
// clock is set back; an untimed net runs while its station is connected,
// whatever its own "Disconnect All" did as it started; and "Stay Con" is as
// the operator (or a code from the air) last set it whenever no net runs.

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QFile>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QtTest>

#include <ctime>
#include <functional>
#include <map>
#include <memory>

#include "announcer/speechpause.h"
#include "core/catchup.h"
#include "core/clock.h"
#include "ui/controls.h"
#include "ui/echolink.h"
#include "ui/program.h"
#include "core/settingsstore.h"
#include "ui/vbtimer.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "side/aboutwindow.h"
#include "side/webtoolswindow.h"
#include "speech_settings/speechsettingswindow.h"
#include "support/mainfixture.h"

using namespace mirelva;
using namespace mirelva::test;

namespace {

// The station's own time zone, with its change from summer time, for every
// local time the program and the run compute.
const bool kInSydney = [] {
    qputenv("TZ", "Australia/Sydney");
    tzset();
    return true;
}();

constexpr qint64 kTransmitTimeoutMs = 30000;
// A tick of Timer1 releases a key-up left standing; one second of grace for it.
constexpr qint64 kKeyedGraceMs = 1500;
constexpr int kMsPerCharacter = 150;
// Bounds on what the program keeps, far above what a day needs and far below
// what a month would pile up if nothing were ever let go.
constexpr qsizetype kMaxNodeRecords = 20000;
constexpr int kMaxTextLines = 20000;
constexpr qsizetype kMaxWarnings = 20;

const QString kMainFile = QStringLiteral("mirelva.ini");

quint64 envSeed(quint64 fallback)
{
    bool ok = false;
    const quint64 v = qEnvironmentVariable("MIRELVA_SIM_SEED").toULongLong(&ok);
    return ok ? v : fallback;
}

double envNumber(const char *name, double fallback)
{
    bool ok = false;
    const double v = qEnvironmentVariable(name).toDouble(&ok);
    return ok ? v : fallback;
}

const QString kDigestTag = QStringLiteral("trace digest ");

// The shapes of station a node reports: plain calls, links and repeaters,
// conferences, odd letter case, blanks, and names too long for the air.
QString stationShape(QRandomGenerator &r)
{
    static const QStringList calls = {
        QStringLiteral("W1AW"),         QStringLiteral("VK2ABC"),       QStringLiteral("G4XYZ-L"),
        QStringLiteral("K7RPT-R"),      QStringLiteral("*ECHOTEST*"),   QStringLiteral("*WORLD-NET*"),
        QStringLiteral("ve3abc"),       QStringLiteral(" JA1XYZ "),     QStringLiteral("N0CALL-"),
        QStringLiteral("-"),            QStringLiteral("*"),            QStringLiteral("DL0ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
        QStringLiteral("F5ÉTÉ"),        QStringLiteral("KC1A-L-R"),     QStringLiteral("*A*B*"),
        QStringLiteral("LOCAL"),
    };
    return calls.at(r.bounded(calls.size()));
}

QString randomText(QRandomGenerator &r, int maxLength)
{
    static const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyz ABCXYZ0123456789.,*#-'\"éü");
    const int n = r.bounded(maxLength + 1);
    QString s;
    s.reserve(n);
    for (int i = 0; i < n; ++i)
        s += letters.at(r.bounded(letters.size()));
    return s;
}

// Whether a settings file reads as one: lines of a section header, key=value,
// comments or blanks. A half-written file would end inside a line or carry a
// temporary's leftovers beside it.
bool looksWhole(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return true;
    if (!bytes.endsWith('\n'))
        return false;
    for (const QByteArray &raw : bytes.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('[') || line.contains('='))
            continue;
        return false;
    }
    return true;
}

class Simulation {
public:
    Simulation(quint64 seed, double days) : m_seed(seed), m_days(days), m_rng(seed)
    {
        VbTimer::setDrivenByTestsForTests(true);
        SpeechPause::setSkippedForTests(true);
        // A Saturday in Sydney: the week turns at the first midnight and
        // the clocks go back an hour at 03:00 on the Sunday.
        m_start = QDateTime(QDate(2026, 4, 4), QTime(0, 0, 0));
        Clock::setForTests(m_start.addSecs(-1));
        m_fixture = std::make_unique<MainFixture>(MainFixture::Built);
        wire();
        load();
        configure();
        connect(SettingsReports::instance());
    }

    ~Simulation() { VbTimer::setDrivenByTestsForTests(false); }

    // Runs to the end; returns the first broken promise, or nothing.
    QString run()
    {
        const QDateTime end = m_start.addSecs(qint64(m_days * 86400));
        for (m_step = 0; Clock::now() < end; ++m_step) {
            stepOnce();
            if (!m_failure.isEmpty())
                return QStringLiteral("seed %1, step %2 (%3): %4")
                    .arg(m_seed)
                    .arg(m_step)
                    .arg(Clock::now().toString(Qt::ISODate), m_failure);
        }
        return {};
    }

    qint64 checks = 0;
    qint64 events = 0;
    qint64 keyUps = 0;
    qint64 marksSpoken = 0;
    qint64 savesFailedAsMeant = 0;
    qint64 restarts = 0;
    qint64 scheduleSeconds = 0;
    qint64 stepsBack = 0;
    qint64 jumpsForward = 0;
    qint64 setUpsAgain = 0;
    struct Day {
        qint64 lived = 0;             // simulated seconds on that date
        qint64 scheduleSeconds = 0;   // silence and net seconds checked
    };
    std::map<QDate, Day> m_perDay;
    QString digest() const { return QString::fromLatin1(m_trace.result().toHex()); }
    const auto &days() const { return m_perDay; }

private:
    MainWindow &w() { return *m_fixture->window; }
    // The program's windows in a fixed order: the application's list of
    // windows follows a hash of their addresses, which differ from run to
    // run, and the order decides which timer ticks first and which code the
    // seed picks.
    QList<QWidget *> windows() const
    {
        const Station &st = m_fixture->station;
        QList<QWidget *> known = {st.main, st.dtmf, st.speechSettings, st.webTools,
                                  st.greeting, st.about, st.messageBox};
        known.removeAll(nullptr);
        QList<QWidget *> others;
        for (QWidget *window : QApplication::topLevelWidgets())
            if (!known.contains(window) && !window->parentWidget())
                others << window;
        std::stable_sort(others.begin(), others.end(), [](const QWidget *a, const QWidget *b) {
            return std::make_pair(QString::fromLatin1(a->metaObject()->className()), a->objectName())
                   < std::make_pair(QString::fromLatin1(b->metaObject()->className()), b->objectName());
        });
        return known + others;
    }
    // Every object of a kind in every window the program has loaded, as
    // windows are added.
    template <typename T> QList<T *> inWindows() const
    {
        QList<T *> all;
        for (QWidget *window : windows())
            all += window->findChildren<T *>();
        return all;
    }
    QStringList settingsFiles() const
    {
        return QDir(m_fixture->settings.folder()).entryList({QStringLiteral("*.ini")}, QDir::Files);
    }
    SimulatedNode &node() { return m_fixture->node; }

    void connect(SettingsReports &reports)
    {
        QObject::connect(&reports, &SettingsReports::problem, [this](const QString &file, const QString &) {
            m_saveProblems << file;
        });
    }

    // Everything that must be re-done for each program start.
    void wire()
    {
        MainFixture &f = *m_fixture;
        tellNodeOfSpeech(f.voice, f.node);
        f.voice.msPerCharacter = kMsPerCharacter;
        f.node.setAnswerDelayMs(0);
        f.window->transmitTimeoutMs = kTransmitTimeoutMs;
        m_keyedSince = QDateTime();
        // Every event the node raises, counted at the node and at each window's
        // own instance of the node interface.
        m_raised = 0;
        QObject::connect(&f.node, &SimulatedNode::raising, [this](const QString &event) {
            ++m_raised;
            m_trace.addData(event.toUtf8().append('\n'));
            recent(QStringLiteral("event ") + event);
        });
        QObject::connect(&f.node, &SimulatedNode::recorded, [this](const SimulatedNode::Record &r) {
            m_requestsInTick << r.request.toText();
            m_trace.addData(r.request.toText().toUtf8().append('\n'));
            recent(r.request.toText());
            if (r.request.toText().startsWith(QLatin1String("SetPTT ")))
                followTransmitter(r.request.toText() == QLatin1String("SetPTT on"));
        });
        // A new program owes nothing for the seconds before it started.
        m_silenceTaken = m_netsTaken = m_marksTaken = QDateTime();
        m_untimedNets.clear();
    }

    // Loaded as the program loads it; the windows are then hidden, since
    // painting them thousands of times a simulated hour is no part of what
    // is checked and would cost most of the run.
    void load()
    {
        m_fixture->load();
        for (QWidget *window : QApplication::topLevelWidgets())
            window->hide();
    }

    void countDeliveries()
    {
        m_delivered.clear();
        for (EchoLink *e : inWindows<EchoLink>()) {
            auto *count = &m_delivered[e];
            const auto bump = [count] { ++*count; };
            QObject::connect(e, &EchoLink::connected, bump);
            QObject::connect(e, &EchoLink::Disconnected, bump);
            QObject::connect(e, &EchoLink::RX, bump);
            QObject::connect(e, &EchoLink::CarrierDetect, bump);
            QObject::connect(e, &EchoLink::DTMFString, bump);
            QObject::connect(e, &EchoLink::ChatTextReceived, bump);
            QObject::connect(e, &EchoLink::Closing, bump);
        }
    }

    // A station with most of what it can do switched on: the clock on every
    // mark with the information text, voice idents, connect announcements,
    // a night's silence, and the codes of both windows.
    void configure()
    {
        setUp(true);
        rememberStayCon();
        save(false);
        countDeliveries();
        collectCodes();
    }

    // The operator's set-up, put into the windows (apply) or compared with
    // what they hold: after a restart on a damaged file the operator finds
    // the station changed and sets it up again, so every day checks marks,
    // nets, silence and idents.
    bool setUp(bool apply)
    {
        MainWindow &m = w();
        DtmfWindow &d = *m_fixture->station.dtmf;
        bool same = true;
        const auto text = [apply, &same](TextBox *box, const QString &value) {
            if (apply)
                box->setText(value);
            same = same && box->text() == value;
        };
        const auto tick = [apply, &same](CheckBox *box, int value) {
            if (apply)
                box->setValue(value);
            same = same && box->value() == value;
        };
        text(m.Callsign, QStringLiteral("VK2RAA"));
        tick(m.OnHour, 1);
        tick(m.QuarterHour, 1);
        tick(m.HalfHour, 1);
        tick(m.InfoHourly, 1);
        // Long enough that the hour's information holds the thread past
        // second 15, where the lunch silence and the evening's first net are.
        text(m.InfoText, QStringLiteral("Net tonight at eight on this repeater, all stations welcome: "
                                        "call in with your callsign and your location"));
        tick(m.IDCheck, 1);
        text(m.VoicePeriod, QStringLiteral("10"));
        tick(m.ConDisc, 1);
        for (CheckBox *day : {m.Sun, m.Mon, m.Tue, m.Wed, m.Thur, m.Fri, m.Sat})
            tick(day, 1);
        text(m.HourOFF1, QStringLiteral("23"));
        text(m.MinsOFF1, QStringLiteral("30"));
        text(m.HourON1b, QStringLiteral("6"));
        text(m.MinsON1b, QStringLiteral("0"));
        // A lunch-hour silence on weekdays.
        for (CheckBox *day : {m.Mon2, m.Tue2, m.Wed2, m.Thur2, m.Fri2})
            tick(day, 1);
        text(m.HourOFF2, QStringLiteral("12"));
        text(m.MinsOFF2, QStringLiteral("0"));
        text(m.HourON2b, QStringLiteral("13"));
        text(m.MinsON2b, QStringLiteral("0"));
        // Sunday's small hours silent, from just after the week turns until
        // after the hour the clocks go back.
        tick(m.Sun3, 1);
        text(m.HourOFF3, QStringLiteral("0"));
        text(m.MinsOFF3, QStringLiteral("2"));
        text(m.HourON3b, QStringLiteral("2"));
        text(m.MinsON3b, QStringLiteral("30"));
        // Auto-connect to a station, and four nets every evening that
        // overlap: timed, untimed (it ends when its station leaves), timed,
        // and a timed one starting as the first ends, three of them shown
        // busy.
        text(m.ConnectStation1, QStringLiteral("VK2XYZ"));
        if (apply) {
            m.StayCon1->setValue(1);
            m.StayCon2->setValue(0);
        }
        const auto net = [&d, &text, &tick](int n, const char *call, const char *hour, const char *mins, int use,
                                            const char *minutes, int busy) {
            const DtmfWindow::Net x = d.net(n);
            text(x.NetCall, QLatin1String(call));
            text(x.Hour, QLatin1String(hour));
            text(x.Mins, QLatin1String(mins));
            for (CheckBox *day : x.days)
                tick(day, 1);
            tick(x.Use, use);
            text(x.DiscMins, QLatin1String(minutes));
            tick(x.ShowBusy, busy);
        };
        net(1, "NETONE", "20", "00", 1, "30", 1);
        net(2, "NETTWO", "20", "10", 0, "0", 1);
        net(3, "*NETTHREE*", "20", "15", 1, "5", 0);
        net(4, "*NETFOUR*", "20", "30", 1, "10", 1);
        // The untimed net drops everyone first, often its own station too.
        tick(d.DisconnectAll2, 1);
        return same;
    }

    // The DTMF codes the station answers to, as its boxes hold them, plus
    // noise around them.
    void collectCodes()
    {
        m_codes.clear();
        const QList<TextBox *> boxes = inWindows<TextBox>();
        static const QRegularExpression code(QStringLiteral("^[0-9*#A-D]{1,8}$"));
        for (TextBox *b : boxes)
            if (code.match(b->text().trimmed()).hasMatch())
                m_codes << b->text().trimmed();
        m_codes.removeDuplicates();
    }

    // ---- one simulated second ------------------------------------------

    void stepOnce()
    {
        // The next whole second after wherever speech left the clock; or the
        // clock is set back to the second before the last tick (often just
        // as a net has started), and the seconds from there come again.
        const QDateTime now = Clock::now();
        const bool netStarted = m_tickSecond.time() == QTime(20, 0, 15) || m_tickSecond.time() == QTime(20, 10, 15);
        const QDateTime next = now.addMSecs(1000 - now.time().msec());
        qint64 forwardJump = 0;
        if (m_tickSecond.isValid() && ((netStarted && m_rng.bounded(2) == 0) || chance(24))) {
            ++stepsBack;
            m_tickSecond = m_tickSecond.addSecs(-1);
            // The platform's timers keep their periods on a clock that is
            // never set: they come due as they would have.
            const qint64 back = m_tickSecond.msecsTo(next);
            for (auto &[timer, due] : m_due)
                if (due != 0)
                    due -= back;
        } else if (m_tickSecond.isValid() && (forwardJump = jumpForward(next)) > 0) {
            // The wall clock set forward (a correction, a machine that
            // slept): the platform's timers and a key-up in progress go by
            // the monotonic clock, which did not move.
            m_tickSecond = next.addSecs(forwardJump);
            for (auto &[timer, due] : m_due)
                if (due != 0)
                    due += forwardJump * 1000;
            if (m_keyedSince.isValid())
                m_keyedSince = m_keyedSince.addSecs(forwardJump);
        } else {
            m_tickSecond = next;
        }
        Clock::setForTests(m_tickSecond);
        ++m_perDay[m_tickSecond.date()].lived;

        happen();
        settle();
        tickTimers();
        settle();
        check();
        m_trace.addData(QStringLiteral("step %1 %2\n").arg(m_step).arg(Clock::now().toMSecsSinceEpoch()).toUtf8());
    }

    // Seconds to set the clock forward by, if at all: now and then by
    // minutes (within what the schedules still owe, or beyond), seldom by a
    // day, and once from the last minutes of a Saturday into the new week.
    qint64 jumpForward(const QDateTime &next)
    {
        if (next.date().dayOfWeek() == Qt::Saturday && next.time() >= QTime(23, 58) && m_weekJumped != next.date()) {
            m_weekJumped = next.date();
            ++jumpsForward;
            return 8 * 60;
        }
        if (chance(12)) {
            ++jumpsForward;
            return 60 * (1 + m_rng.bounded(14));
        }
        if (chance(2)) {
            ++jumpsForward;
            return 60 * (16 + m_rng.bounded(45));
        }
        // A whole day, about once a week, after the first days (which the
        // suite's short run lives through whole, summer time's end with them).
        if (m_start.daysTo(next) >= 3 && m_rng.bounded(7 * 86400) == 0) {
            ++jumpsForward;
            return 86400;
        }
        return 0;
    }

    void settle()
    {
        node().finishMorse();
        QCoreApplication::processEvents();
        node().finishMorse();
    }

    void tickTimers()
    {
        const QList<VbTimer *> timers = inWindows<VbTimer>();
        const qint64 nowMs = m_tickSecond.toMSecsSinceEpoch();
        for (VbTimer *t : timers) {
            qint64 &due = m_due[t];
            if (!t->isEnabled() || t->interval() <= 0) {
                due = 0;
                continue;
            }
            if (due == 0)
                due = nowMs + std::max(t->interval(), 1000) - 1000;
            if (due > nowMs)
                continue;
            due = nowMs + std::max(t->interval(), 1000);
            if (t == w().Timer1)
                tickClock();
            else if (t == w().Timer5)
                tickSilence();
            else if (m_fixture->station.dtmf && t == m_fixture->station.dtmf->Timer2)
                tickNets();
            else
                t->tickForTests();
            if (Program::ended())
                return;
        }
    }

    // The main clock tick, watched for the marks it must announce: at a mark
    // second, with that mark's announcement ticked, the time is said in the
    // tick unless the station is silenced, the link is busy, a connect
    // announcement holds the station, or a queued text runs first (a mark
    // missed while the thread was blocked stays missed).
    void tickClock()
    {
        MainWindow &m = w();
        const QString mark = m_tickSecond.toString(QStringLiteral("mm:ss"));
        CheckBox *sayTime = mark == QLatin1String("00:00")                                         ? m.OnHour
                            : mark == QLatin1String("15:00") || mark == QLatin1String("45:00") ? m.QuarterHour
                            : mark == QLatin1String("30:00")                                     ? m.HalfHour
                                                                                                 : nullptr;
        const bool markNew = takeSeconds(m_marksTaken, Clock::now()).contains(m_tickSecond);
        const bool owed = markNew && sayTime && sayTime->value() == 1 && m.Check1->value() != 1
                          && !node().state().linkBusy && m.InUse != 1 && m.flag2 != 1;
        const qsizetype before = m_fixture->voice.spoken.size();
        m.Timer1->tickForTests();
        if (!owed)
            return;
        for (qsizetype i = before; i < m_fixture->voice.spoken.size(); ++i) {
            const QString &text = m_fixture->voice.spoken.at(i).text;
            if (text.contains(QLatin1String("The Time Is"))) {
                ++marksSpoken;
                return;
            }
        }
        fail(QStringLiteral("the %1 mark was owed and not spoken").arg(mark));
    }

    // The seconds a schedule tick stands for: those after the last one this
    // program took, up to the time it is ticked (speech before it in the
    // same second moved the clock on). A clock set back owes nothing until
    // it passes the last second taken.
    // A gap longer than a quarter of an hour (the clock set forward) owes
    // only the second ticked.
    static QList<QDateTime> takeSeconds(QDateTime &taken, const QDateTime &now)
    {
        QList<QDateTime> l;
        const qint64 to = now.toSecsSinceEpoch();
        if (taken.isValid() && to <= taken.toSecsSinceEpoch())
            return l;
        const bool owing = taken.isValid() && to - taken.toSecsSinceEpoch() <= SecondsOwed::kMostSeconds;
        for (qint64 s = owing ? taken.toSecsSinceEpoch() + 1 : to; s <= to; ++s)
            l << QDateTime::fromSecsSinceEpoch(s);
        taken = QDateTime::fromSecsSinceEpoch(to);
        return l;
    }

    // Every second a silence schedule names is acted on: after the tick,
    // "Disable Announcements" is as the last schedule second passed set it.
    void tickSilence()
    {
        MainWindow &m = w();
        const QList<QDateTime> owed = takeSeconds(m_silenceTaken, Clock::now());
        struct S { CheckBox *const *days; TextBox *hOff, *mOff, *hOn, *mOn; };
        CheckBox *const d1[7] = {m.Sun, m.Mon, m.Tue, m.Wed, m.Thur, m.Fri, m.Sat};
        CheckBox *const d2[7] = {m.Sun2, m.Mon2, m.Tue2, m.Wed2, m.Thur2, m.Fri2, m.Sat2};
        CheckBox *const d3[7] = {m.Sun3, m.Mon3, m.Tue3, m.Wed3, m.Thur3, m.Fri3, m.Sat3};
        const S schedules[3] = {{d1, m.HourOFF1, m.MinsOFF1, m.HourON1b, m.MinsON1b},
                                {d2, m.HourOFF2, m.MinsOFF2, m.HourON2b, m.MinsON2b},
                                {d3, m.HourOFF3, m.MinsOFF3, m.HourON3b, m.MinsON3b}};
        const auto at = [](const TextBox *h, const TextBox *mi) {
            bool okH = false, okM = false;
            const int hh = h->text().toInt(&okH), mm = mi->text().toInt(&okM);
            return okH && okM && hh >= 0 && hh < 24 && mm >= 0 && mm < 60 ? QTime(hh, mm, 15) : QTime();
        };
        int expected = -1;
        for (const QDateTime &second : owed)
            for (const S &s : schedules) {
                if (s.days[second.date().dayOfWeek() % 7]->value() != 1)
                    continue;
                if (at(s.hOff, s.mOff) == second.time())
                    expected = 1;
                if (at(s.hOn, s.mOn) == second.time())
                    expected = 0;
            }
        m.Timer5->tickForTests();
        if (Program::ended() || expected < 0)
            return;
        ++scheduleSeconds;
        ++m_perDay[m_tickSecond.date()].scheduleSeconds;
        if (m.Check1->value() != expected)
            fail(QStringLiteral("a silence schedule second passed and \"Disable Announcements\" reads %1")
                     .arg(m.Check1->value()));
    }

    // Every net start second is acted on, once: the net's station is asked
    // for in the tick that takes the second, and in no other.
    void tickNets()
    {
        DtmfWindow &d = *m_fixture->station.dtmf;
        const QList<QDateTime> owed = takeSeconds(m_netsTaken, Clock::now());
        QStringList due;
        QStringList netCalls;
        std::map<int, QString> untimed;
        for (int n = 4; n >= 1; --n) {
            const DtmfWindow::Net x = d.net(n);
            if (x.NetCall->text().isEmpty())
                continue;
            const QString connect = QStringLiteral("Connect ") + x.NetCall->text().toUpper();
            netCalls << connect;
            const QString start = x.Hour->text() + ':' + x.Mins->text() + QStringLiteral(":15");
            for (const QDateTime &second : owed)
                if (x.days[second.date().dayOfWeek() % 7]->value() == 1 && second.toString("HH:mm:ss") == start) {
                    due << connect;
                    if (x.Use->value() == 0)
                        untimed[n] = x.NetCall->text().trimmed().toUpper();
                }
        }
        // A busy channel holds nets back, as meant.
        if (d.RFBusy->value() == 1)
            due.clear(), untimed.clear();
        m_requestsInTick.clear();
        d.Timer2->tickForTests();
        if (Program::ended())
            return;
        for (const QString &connect : due) {
            ++scheduleSeconds;
            ++m_perDay[m_tickSecond.date()].scheduleSeconds;
            if (!m_requestsInTick.contains(connect))
                fail(QStringLiteral("a net's start second passed without \"%1\"").arg(connect));
        }
        for (const QString &request : std::as_const(m_requestsInTick))
            if (netCalls.contains(request) && !due.contains(request))
                fail(QStringLiteral("\"%1\" with no net's start second owed").arg(request));
        m_untimedNets.insert(untimed.begin(), untimed.end());
    }

    // The operator's "Stay Con" as the station was last told: by the boxes
    // at a start, or by the auto-connect codes from the air.
    void rememberStayCon()
    {
        m_stayCon[0] = w().StayCon1->value();
        m_stayCon[1] = w().StayCon2->value();
    }

    void heardCode(const QString &digits)
    {
        if (digits.isEmpty())
            return;
        if (w().EnableAutoConnect->text() == digits)
            m_stayCon[0] = m_stayCon[1] = 1;
        if (w().DisableAutoConnect->text() == digits)
            m_stayCon[0] = m_stayCon[1] = 0;
    }

    // ---- what happens ----------------------------------------------------

    // Most evenings the untimed net's station is on the node before the nets
    // start (once the first shows the node busy, it would be turned away), and once the nets run someone sends an auto-connect code,
    // mostly the one that disables it.
    void evening()
    {
        const QTime t = m_tickSecond.time();
        const QDate today = m_tickSecond.date();
        const DtmfWindow *d = m_fixture->station.dtmf;
        if (d && t >= QTime(19, 55) && t < QTime(19, 56) && m_netStationDay != today) {
            m_netStationDay = today;
            const QString call = d->net(2).NetCall->text();
            if (!call.isEmpty() && m_rng.bounded(3) > 0) {
                ++events;
                std::erase_if(m_untimedNets, [d](const auto &net) { return !d->netRunning(net.first); });
                node().stationConnects(call, QString(), QString());
            }
        }
        if (t >= QTime(20, 12) && t < QTime(20, 13) && m_codeDay != today) {
            m_codeDay = today;
            const QString digits =
                m_rng.bounded(3) > 0 ? w().DisableAutoConnect->text() : w().EnableAutoConnect->text();
            ++events;
            heardCode(digits);
            node().dtmf(digits);
        }
    }

    bool chance(int perDay) { return int(m_rng.bounded(86400)) < perDay; }

    void happen()
    {
        SimulatedNode &n = node();
        if (chance(400)) {
            ++events;
            n.stationConnects(stationShape(m_rng), randomText(m_rng, 20), QString());
        }
        if (chance(400) && !n.state().connected.isEmpty()) {
            ++events;
            const QStringList c = n.state().connected;
            n.stationDisconnects(c.at(m_rng.bounded(c.size())));
        }
        // A carrier, a station talking over the internet, the link busy: each
        // for a few seconds to a few minutes.
        spell(m_carrierUntil, 500, 3, 180, [&n](bool on) { n.localCarrier(on); });
        spell(m_talkingUntil, 500, 3, 180, [&n](bool on) { n.internetTalking(on); });
        spell(m_busyUntil, 60, 10, 600, [&n](bool on) { n.setLinkBusy(on); });
        evening();
        if (chance(300)) {
            ++events;
            const bool real = !m_codes.isEmpty() && m_rng.bounded(3) > 0;
            const QString digits = real ? m_codes.at(m_rng.bounded(m_codes.size())) : randomText(m_rng, 6);
            heardCode(digits);
            n.dtmf(digits);
        }
        if (chance(200)) {
            ++events;
            n.chat(randomText(m_rng, 400));
        }
        if (chance(4)) {   // a chat flood
            for (int i = 0; i < 200; ++i) {
                ++events;
                n.chat(QStringLiteral("flood %1 ").arg(i) + randomText(m_rng, 80));
            }
        }
        if (chance(24)) {
            ++events;
            save(m_rng.bounded(3) == 0);
        }
        if (chance(6)) {
            ++events;
            replaceFileBehindItsBack();
        }
        if (chance(2)) {
            ++events;
            restart(m_rng.bounded(2) == 0);
        }
    }

    void spell(QDateTime &until, int perDay, int shortest, int longest, const std::function<void(bool)> &set)
    {
        if (until.isValid() && Clock::now() >= until) {
            ++events;
            until = QDateTime();
            set(false);
        } else if (!until.isValid() && chance(perDay)) {
            ++events;
            until = Clock::now().addSecs(shortest + m_rng.bounded(longest - shortest));
            set(true);
        }
    }

    // Every window saves; with `failing`, the files are read-only first and
    // each save must fail, say so and leave its file as it was.
    void save(bool failing)
    {
        // Something to save: a save that changes nothing leaves the file alone.
        w().TextInput3->setText(QStringLiteral("This is VK2RAA, the Mirelva test repeater, %1").arg(++m_saves));
        std::map<QString, QByteArray> before;
        const QStringList files = settingsFiles();
        for (const QString &file : files) {
            before[file] = m_fixture->settings.readFile(file);
            if (failing)
                QFile::setPermissions(m_fixture->settings.path(file), QFile::ReadOwner);
        }
        m_saveProblems.clear();
        const Station &station = m_fixture->station;
        w().SaveData();
        if (station.dtmf)
            station.dtmf->SaveData();
        if (station.speechSettings)
            station.speechSettings->SaveData();
        if (station.webTools)
            station.webTools->SaveData2();
        for (const QString &file : files) {
            const QString path = m_fixture->settings.path(file);
            if (failing) {
                QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
                if (!QFile::exists(path))
                    continue;
                if (m_fixture->settings.readFile(file) != before[file])
                    return fail(file + QStringLiteral(": a save to a read-only file changed it"));
                if (file == kMainFile && !m_saveProblems.contains(file))
                    return fail(file + QStringLiteral(": a failed save was not reported; the window holds %1, the file:\n")
                                .arg(w().TextInput3->text()) + QString::fromLatin1(before[file]).remove('\r'));
                if (m_saveProblems.contains(file))
                    ++savesFailedAsMeant;
            } else if (m_saveProblems.contains(file) && !m_replaced.contains(file)) {
                return fail(file + QStringLiteral(": a save to a writable file failed"));
            }
        }
        // What a good save wrote reads back as the window holds it.
        if (!failing && !m_saveProblems.contains(kMainFile)) {
            const auto back = [](const char *key) {
                return SettingsStore::read(kMainFile, QLatin1String(key), QString(), 1000);
            };
            if (back("TEXTINPUT3") != w().TextInput3->text() || back("CALLSIGN") != w().Callsign->text()
                || back("TXTIMEHOUR") != Convert::checkToText(w().OnHour->value()))
                return fail(QStringLiteral("mirelva.ini does not read back what was saved"));
            if (back("STAYCON1") != Convert::checkToText(m_stayCon[0])
                || back("STAYCON2") != Convert::checkToText(m_stayCon[1]))
                return fail(QStringLiteral("mirelva.ini holds \"Stay Con\" %1 %2, the operator set %3 %4")
                                .arg(back("STAYCON1"), back("STAYCON2"))
                                .arg(m_stayCon[0])
                                .arg(m_stayCon[1]));
        }
        checkFiles();
    }

    // Someone edits a settings file with another program: a good copy with
    // other values, a file cut short, or rubbish.
    void replaceFileBehindItsBack()
    {
        const QStringList files = settingsFiles();
        if (files.isEmpty())
            return;
        const QString file = files.at(m_rng.bounded(files.size()));
        QByteArray bytes = m_fixture->settings.readFile(file);
        switch (m_rng.bounded(4)) {
        case 0:
            bytes.replace("=1\r\n", "=0\r\n");
            bytes.replace("=1\n", "=0\n");
            break;
        case 1:
            bytes.truncate(m_rng.bounded(qMax<qsizetype>(bytes.size(), 1)));
            break;
        case 2:
            bytes = randomText(m_rng, 300).toUtf8();
            break;
        default:
            bytes = "[SETTINGS]\r\nCALLSIGN=VK2XYZ\r\nTXTIMEHOUR=1\r\n";
            break;
        }
        m_fixture->settings.writeFile(file, bytes);
        m_replaced << file;
    }

    // The program ends and starts again on the same settings folder: after
    // the node closed, or as a restart would.
    void restart(bool nodeCloses)
    {
        ++restarts;
        if (nodeCloses)
            node().closing();
        settle();
        m_due.clear();
        m_carrierUntil = m_talkingUntil = m_busyUntil = QDateTime();
        m_fixture = m_fixture->restart(MainFixture::Built);
        wire();
        load();
        if (!setUp(false)) {
            ++setUpsAgain;
            setUp(true);
            rememberStayCon();
            save(false);
        }
        rememberStayCon();
        countDeliveries();
        collectCodes();
    }

    // ---- the promises ----------------------------------------------------

    // The program's own key-ups, from its "SetPTT on" to its "SetPTT off":
    // what its transmit time-out bounds. (The node's Morse runs on the
    // platform's timers, which a step's speech does not move, so here it
    // would last until the step ends, whatever its length.)
    void followTransmitter(bool keyed)
    {
        if (keyed && !m_keyedSince.isValid()) {
            m_keyedSince = Clock::now();
            ++keyUps;
        } else if (!keyed && m_keyedSince.isValid()) {
            checkKeyUp(Clock::now());
            m_keyedSince = QDateTime();
        }
    }

    void checkKeyUp(const QDateTime &at)
    {
        const qint64 held = m_keyedSince.msecsTo(at);
        if (held > kTransmitTimeoutMs + kKeyedGraceMs)
            fail(QStringLiteral("a key-up lasted %1 ms, past the %2 ms time-out").arg(held).arg(kTransmitTimeoutMs));
    }

    void check()
    {
        if (!m_failure.isEmpty())
            return;
        ++checks;
        if (m_keyedSince.isValid())
            checkKeyUp(Clock::now());

        for (const auto &[echolink, count] : m_delivered)
            if (count != m_raised && !Program::ended())
                return fail(QStringLiteral("the node raised %1 events, %2 got %3")
                                .arg(m_raised)
                                .arg(echolink->parent()->objectName())
                                .arg(count));

        if (node().records().size() > kMaxNodeRecords)
            return fail(QStringLiteral("the node keeps %1 request records").arg(node().records().size()));
        const QList<QPlainTextEdit *> texts = inWindows<QPlainTextEdit>();
        for (const QPlainTextEdit *t : texts)
            if (t->document()->blockCount() > kMaxTextLines)
                return fail(QStringLiteral("%1 holds %2 lines").arg(t->objectName()).arg(t->document()->blockCount()));
        const DtmfWindow *d = m_fixture->station.dtmf;
        // An untimed net runs until its station leaves, whatever it did
        // itself as it started.
        for (auto it = m_untimedNets.begin(); d && !Program::ended() && it != m_untimedNets.end();) {
            if (d->netRunning(it->first)) {
                ++it;
            } else if (node().state().connected.contains(it->second)) {
                return fail(QStringLiteral("net %1 has ended while its station %2 is connected")
                                .arg(it->first)
                                .arg(it->second));
            } else {
                it = m_untimedNets.erase(it);
            }
        }
        // The node shows busy while any running net is set to show it.
        for (int n = 1; d && !Program::ended() && n <= 4; ++n)
            if (d->netRunning(n) && d->net(n).ShowBusy->value() == 1 && !node().busy())
                return fail(QStringLiteral("net %1 runs, set to show the node busy, and the node is not busy").arg(n));
        if (d && !d->anyNetRunning() && !Program::ended()
            && (w().StayCon1->value() != m_stayCon[0] || w().StayCon2->value() != m_stayCon[1]))
            return fail(QStringLiteral("no net runs and \"Stay Con\" reads %1 %2, the operator set %3 %4")
                            .arg(w().StayCon1->value())
                            .arg(w().StayCon2->value())
                            .arg(m_stayCon[0])
                            .arg(m_stayCon[1]));
        if (w().lastingWarnings().size() > kMaxWarnings)
            return fail(QStringLiteral("%1 lasting warnings stand").arg(w().lastingWarnings().size()));
        if (m_fixture->voice.spoken.size() > 100000)
            m_fixture->voice.spoken.clear();   // the test's own record, not the program's

        if (m_step % 600 == 0)
            checkFiles();
    }

    void checkFiles()
    {
        ++checks;
        const QDir folder(m_fixture->settings.folder());
        const QStringList all = folder.entryList(QDir::Files | QDir::Hidden);
        for (const QString &name : all)
            if (!name.endsWith(QLatin1String(".ini")))
                return fail(QStringLiteral("a stray file in the settings folder: ") + name);
        for (const QString &file : all) {
            // Lines put there from outside are kept as they are by every save.
            if (m_replaced.contains(file))
                continue;
            const QByteArray bytes = m_fixture->settings.readFile(file);
            if (!looksWhole(bytes))
                return fail(file + QStringLiteral(" is not whole"));
        }
    }

    void fail(const QString &why)
    {
        if (m_failure.isEmpty())
            m_failure = why + QStringLiteral("\nlast requests and events:\n") + m_recent.join(QLatin1Char('\n'));
    }

    // What the node was asked and told last, with the time, for a failure.
    void recent(const QString &line)
    {
        m_recent << Clock::now().toString(QStringLiteral("HH:mm:ss.zzz ")) + line.left(160);
        if (m_recent.size() > 40)
            m_recent.removeFirst();
    }

    quint64 m_seed;
    double m_days;
    QRandomGenerator m_rng;
    QDateTime m_start;
    QDateTime m_tickSecond;
    qint64 m_step = 0;
    std::unique_ptr<MainFixture> m_fixture;
    std::map<VbTimer *, qint64> m_due;
    std::map<EchoLink *, qint64> m_delivered;
    qint64 m_raised = 0;
    QDateTime m_keyedSince;
    QDateTime m_carrierUntil, m_talkingUntil, m_busyUntil;
    QStringList m_codes;
    QStringList m_saveProblems;
    QStringList m_replaced;
    QString m_failure;
    int m_saves = 0;
    QDateTime m_silenceTaken, m_netsTaken, m_marksTaken;
    std::map<int, QString> m_untimedNets;   // started, by net number: the station they wait for
    QDate m_netStationDay, m_codeDay, m_weekJumped;
    QCryptographicHash m_trace{QCryptographicHash::Sha256};
    QStringList m_requestsInTick;
    QStringList m_recent;
    int m_stayCon[2] = {0, 0};
};

} // namespace

class TestSimulatedMonth : public QObject {
    Q_OBJECT
private slots:
    void aStationLivesThroughDaysOfEventsAndFaults()
    {
        QVERIFY2(QDateTime(QDate(2026, 4, 4), QTime(12, 0)).offsetFromUtc() == 11 * 3600,
                 "the month's summer time needs tzdata's Australia/Sydney");
        const quint64 seed = envSeed(14);
        const double days = envNumber("MIRELVA_SIM_DAYS", 2);
        QElapsedTimer wall;
        wall.start();
        Simulation sim(seed, days);
        const QString failure = sim.run();
        const double minutes = wall.elapsed() / 60000.0;
        qInfo().noquote() << QStringLiteral(
                                 "simulated %1 days (seed %2) in %3 s: %4 simulated days per wall-clock minute; "
                                 "%5 invariant checks, %6 events, %7 key-ups, %8 marks spoken, %9 saves failed as "
                                 "meant, %10 restarts, %11 schedule seconds acted on, %12 clocks set back")
                                 .arg(days)
                                 .arg(seed)
                                 .arg(wall.elapsed() / 1000.0, 0, 'f', 1)
                                 .arg(minutes > 0 ? days / minutes : 0.0, 0, 'f', 1)
                                 .arg(sim.checks)
                                 .arg(sim.events)
                                 .arg(sim.keyUps)
                                 .arg(sim.marksSpoken)
                                 .arg(sim.savesFailedAsMeant)
                                 .arg(sim.restarts)
                                 .arg(sim.scheduleSeconds)
                                 .arg(sim.stepsBack);
        qInfo().noquote() << QStringLiteral("%1 clocks set forward, %2 set-ups again after a damaged file")
                                 .arg(sim.jumpsForward)
                                 .arg(sim.setUpsAgain);
        qInfo().noquote() << kDigestTag + sim.digest();
        if (!failure.isEmpty())
            qInfo().noquote() << failure;
        QVERIFY2(failure.isEmpty(), qPrintable(failure.section(QLatin1Char('\n'), 0, 0)));
        // Every day lived for the most part checks some schedule seconds.
        for (const auto &[date, day] : sim.days()) {
            qInfo().noquote() << QStringLiteral("%1: %2 schedule seconds checked in %3 s lived")
                                     .arg(date.toString(Qt::ISODate))
                                     .arg(day.scheduleSeconds)
                                     .arg(day.lived);
            QVERIFY2(day.lived < 12 * 3600 || day.scheduleSeconds > 0, qPrintable(date.toString(Qt::ISODate)));
        }
    }

    // A seed replays its run step for step: runs in separate processes (other
    // addresses, another hash seed, another load) leave the same trace.
    void aSeedReplaysItsRunStepForStep()
    {
        if (qEnvironmentVariableIsSet("MIRELVA_SIM_REPLAY"))
            QSKIP("a replay itself");
        QStringList digests;
        for (int run = 0; run < 3; ++run) {
            QProcess replay;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("MIRELVA_SIM_REPLAY"), QStringLiteral("1"));
            env.insert(QStringLiteral("MIRELVA_SIM_SEED"), QStringLiteral("14"));
            env.insert(QStringLiteral("MIRELVA_SIM_DAYS"), QStringLiteral("0.125"));
            replay.setProcessEnvironment(env);
            replay.setProcessChannelMode(QProcess::MergedChannels);
            replay.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("aStationLivesThroughDaysOfEventsAndFaults")});
            QVERIFY(replay.waitForFinished(600000));
            const QString out = QString::fromUtf8(replay.readAll());
            QCOMPARE(replay.exitCode(), 0);
            const qsizetype at = out.indexOf(kDigestTag);
            QVERIFY2(at >= 0, qPrintable(out));
            digests << out.mid(at + kDigestTag.size(), 64);
        }
        QCOMPARE(digests.at(1), digests.at(0));
        QCOMPARE(digests.at(2), digests.at(0));
    }
};

QTEST_MAIN(TestSimulatedMonth)
#include "test_simulated_month.moc"
