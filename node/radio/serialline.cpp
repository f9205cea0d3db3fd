// Serial port modem lines. The port may be shared with other programs (and
// with this node's other lines), so an output line only ever sets or clears
// its own bit (TIOCMBIS/TIOCMBIC), never the whole set (TIOCMSET), and never
// changes the port's settings. Opening a tty raises RTS and DTR in the
// kernel; an output line puts its own bit to the inactive level at once. The
// port closing (the node ending in any way, the last user gone) drops both.

#include "node/radio/linekinds.h"
#include "node/radio/sysio.h"

#include <cerrno>
#include <functional>
#include <fcntl.h>
#include <sys/ioctl.h>

namespace mirelva::radio {

namespace {

int modemBit(const QString &pin)
{
    if (pin == "RTS") return TIOCM_RTS;
    if (pin == "DTR") return TIOCM_DTR;
    if (pin == "CTS") return TIOCM_CTS;
    if (pin == "DSR") return TIOCM_DSR;
    if (pin == "DCD") return TIOCM_CAR;
    return TIOCM_RNG;
}

// The open port, as both kinds of serial line use it.
struct SerialPort {
    int fd = -1;

    // O_NONBLOCK: the open must not wait for DCD on a port without CLOCAL.
    bool open(const QString &path, const std::function<QString(int)> &reason, QString *why)
    {
        SysIo &io = SysIo::get();
        fd = io.open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            *why = reason(errno);
            return false;
        }
        int bits = 0;
        if (io.ioctl(fd, TIOCMGET, &bits) < 0) {
            *why = reason(errno);
            close();
            return false;
        }
        return true;
    }
    bool bits(int *out, const QString &path, const std::function<QString(int)> &reason, QString *why)
    {
        SysIo &io = SysIo::get();
        if (io.ioctl(fd, TIOCMGET, out) < 0) {
            *why = reason(errno);
            return false;
        }
        if (!io.exists(path.toLocal8Bit().constData())) {
            *why = reason(ENODEV);
            return false;
        }
        return true;
    }
    void close()
    {
        if (fd >= 0)
            SysIo::get().close(fd);
        fd = -1;
    }
};

class SerialOutput : public OutputLine {
public:
    SerialOutput(const LineSpec &lineSpec, QObject *parent)
        : OutputLine(lineSpec, parent), m_bit(modemBit(lineSpec.pin))
    {
        start();
    }
    ~SerialOutput() override { stop(); }

protected:
    bool openDevice(QString *why) override { return m_port.open(lineSpec().device, reasonFn(), why); }
    bool writeLevel(bool high, QString *why) override
    {
        int bit = m_bit;
        if (SysIo::get().ioctl(m_port.fd, high ? TIOCMBIS : TIOCMBIC, &bit) < 0) {
            *why = reason(errno);
            return false;
        }
        return true;
    }
    bool probeDevice(QString *why) override
    {
        int bits = 0;
        return m_port.bits(&bits, lineSpec().device, reasonFn(), why);
    }
    void closeDevice() override { m_port.close(); }

private:
    std::function<QString(int)> reasonFn() const
    {
        return [this](int err) { return reason(err); };
    }
    SerialPort m_port;
    int m_bit;
};

// Modem status lines have no file event to wait on short of TIOCMIWAIT, which
// blocks a thread and which USB serial adapters and pseudo-terminals often do
// not offer; they are read every 50 ms instead, a squelch's delay no one hears.
class SerialInput : public InputLine {
public:
    static constexpr int kPollMs = 50;

    SerialInput(const LineSpec &lineSpec, QObject *parent)
        : InputLine(lineSpec, parent), m_bit(modemBit(lineSpec.pin))
    {
        m_poll.setInterval(kPollMs);
        connect(&m_poll, &QTimer::timeout, this, [this] { poll(); });
        start();
    }
    ~SerialInput() override { stop(); }

protected:
    bool openDevice(QString *why) override { return m_port.open(lineSpec().device, reasonFn(), why); }
    bool afterOpen(QString *why) override
    {
        if (!readNow(why))
            return false;
        m_poll.start();
        return true;
    }
    bool probeDevice(QString *why) override { return readNow(why); }
    void closeDevice() override
    {
        m_poll.stop();
        m_port.close();
    }

private:
    void poll()
    {
        QString why;
        if (!readNow(&why))
            deviceFailed(why);
    }
    bool readNow(QString *why)
    {
        int bits = 0;
        if (!m_port.bits(&bits, lineSpec().device, reasonFn(), why))
            return false;
        levelRead(bits & m_bit);
        return true;
    }
    std::function<QString(int)> reasonFn() const
    {
        return [this](int err) { return reason(err); };
    }
    SerialPort m_port;
    QTimer m_poll;
    int m_bit;
};

} // namespace

std::unique_ptr<OutputLine> makeSerialOutput(const LineSpec &lineSpec, QObject *parent)
{
    return std::make_unique<SerialOutput>(lineSpec, parent);
}

std::unique_ptr<InputLine> makeSerialInput(const LineSpec &lineSpec, QObject *parent)
{
    return std::make_unique<SerialInput>(lineSpec, parent);
}

} // namespace mirelva::radio
