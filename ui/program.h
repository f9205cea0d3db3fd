#pragma once

#include <functional>

#include <QDateTime>
#include <QString>

class QLabel;
class QObject;
class QWidget;

namespace mirelva {

// The one way the program ends. After end() no timer fires, no node event is
// delivered and no handler is entered again; the caller returns right away.
namespace Program {
void end(int exitCode = 0);
bool ended();
// "Let waiting events run": lets queued window and node events be handled
// inside a long handler. Does nothing once the program has ended.
void doEvents();
// Paints what has changed in every window now, and lets nothing else run: for
// the indicators that must show before a handler blocks the thread.
void paintNow();
// While on, a window is painted when the thread has nothing more to do (or
// after kLongestPaintHoldMs of work without a pause), not at every "let
// waiting events run": the handlers that share a tick then cost one paint
// together, and one that acts on an exact second acts before anything is
// painted. paintNow() still paints at once.
void paintWhenIdle(bool on);
constexpr int kLongestPaintHoldMs = 50;
// Waits quietly: lets the windows be painted and answer the screen reader
// (whose questions come as posted events from the bus's own thread), and
// nothing else run: no timer ticks, no socket is read (its notifier rests
// and wakes again afterwards, whatever the event dispatcher), no call made
// through post() runs. Of the input, only what moves the focus (Tab and
// Shift+Tab, an arrow between buttons) is handled at once; every other key,
// click or close waits, and it and the calls held are handled once nothing
// holds them any more (the wait is over, and no OnAir lives), in the order
// they came. The labels that show the time (showsTime) are kept current
// meanwhile. Returns true once done() holds; false after timeoutMs
// (negative: no limit) or when the program ended. Whatever makes done() true
// from another thread calls wakeUp() after it.
bool waitQuietly(const std::function<bool()> &done, int timeoutMs = -1);
void wakeUp();
// Runs blocking work (a keyed speech) on a thread of its own and waits
// quietly until it is over; without an event loop it runs here.
void runQuietly(const std::function<void()> &work);
// Runs `call` from the event loop after what already waits there, in the
// order posted; dropped when `context` is gone by then. A press made on the
// operator's behalf (the web console's) goes this way, so it waits while
// the thread speaks as the operator's own click does.
void post(QObject *context, std::function<void()> call);
// Lives while a keyed announcement holds the air, from keying to unkeying:
// input and posted calls held by a quiet wait inside it wait on until it is
// over, so what they start follows the announcement instead of nesting in
// it. Ticks and node events are not held by it.
class OnAir {
public:
    OnAir();
    ~OnAir();
    OnAir(const OnAir &) = delete;
    OnAir &operator=(const OnAir &) = delete;
};
// Lets the window be shown and painted for the first time, and nothing else
// run (a quiet wait). True once it has been painted; false when it was not
// within timeoutMs (a window on no screen anyone looks at is never painted),
// or the program ended meanwhile.
bool waitForFirstPaint(QWidget *window, int timeoutMs);
// A label that shows the time of day and nothing else: its text is worked
// out from Clock::now() alone, with no handler's side effect, so a quiet wait
// keeps it current while no tick may run (its tick sets it otherwise). It is
// forgotten with the label.
void showsTime(QLabel *label, std::function<QString(const QDateTime &)> text);
// Sets every such label whose text is out of date.
void showTimeNow();
// Tests start a fresh program life between cases.
void resetForTests();

// One copy per user. claimSingleCopy() takes the lock for the program's life
// and says whether it got it; anotherCopyRunning() tells the windows that
// look again while they load.
bool claimSingleCopy();
// Where the lock lies: the user's runtime folder, or else the settings folder.
QString singleCopyLockPath();
bool anotherCopyRunning();
void setAnotherCopyRunningForTests(bool running);
} // namespace Program

} // namespace mirelva
