#pragma once

#include <QByteArray>
#include <QString>

namespace mirelva::radio {

// Lets go of the transmitter when this process ends in a way it cannot
// clean up after itself (SIGKILL, a crash). A CM108's GPIO pins and a GPIO
// chip's lines keep their last level when the program that set them is gone,
// so a keyed PTT would stay keyed; a serial port needs none of this, as its
// closing drops RTS and DTR.
//
// Arming forks a small watcher (twice, so init adopts it) that only waits on
// a socket. When the line is closed the ordinary way it is told to stand
// down; when the socket reaches its end without that word, this process is
// gone, and the watcher writes the inactive level itself: the HID report to
// the hidraw device, or a fresh request of the GPIO line at its inactive
// level (tried for up to a second while the kernel lets go of the dead
// program's request). It ignores SIGTERM, SIGINT and SIGHUP, which the
// service manager or a terminal send the whole group, and uses only system
// calls after the fork.
class ReleaseGuard {
public:
    ReleaseGuard() = default;
    ReleaseGuard(const ReleaseGuard &) = delete;
    ReleaseGuard &operator=(const ReleaseGuard &) = delete;
    ~ReleaseGuard() { disarm(); }

    // Writes `report` to `path` when the process is gone.
    void armHidraw(const QString &path, const QByteArray &report);
    // Requests `offset` on the chip at `chipPath` as an output at `value`.
    void armGpio(const QString &chipPath, int offset, int value);
    // The line was let go of the ordinary way: the watcher ends, doing nothing.
    void disarm();
    bool armed() const { return m_fd >= 0; }
    // No machine running the tests has a GPIO chip: with this on, a watcher
    // armed afterwards writes the line request it would make to the chip's
    // path, a plain file, instead of asking the kernel.
    static void recordGpioRequestsForTests(bool on);

private:
    void arm(int kind, const QByteArray &path, const QByteArray &bytes, int offset, int value);
    int m_fd = -1;
};

} // namespace mirelva::radio
