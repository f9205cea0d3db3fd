#pragma once

#include <QString>

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
// Lets the window be shown and painted for the first time, and nothing else
// run: no timer ticks, no socket is read, input waits. True once it has been
// painted; false when it was not within timeoutMs (a window on no screen
// anyone looks at is never painted), or the program ended meanwhile.
bool waitForFirstPaint(QWidget *window, int timeoutMs);
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
