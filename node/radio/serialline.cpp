// Serial port modem lines. The port may be shared with other programs (and
// with this node's other lines), so an output line only ever sets or clears
// its own bit (TIOCMBIS/TIOCMBIC), never the whole set (TIOCMSET), and never
// changes the port's settings. The port closing (the node ending in any way,
// the last user gone) drops both.
//
// Every open of a tty raises RTS and DTR in the kernel while its baud rate is
// not 0: the first open and each one after it, by whichever descriptor. So an
// output line writes its own level as the first thing after its open, and
// every serial open in this node (the squelch on CTS of the PTT's port, the
// RTS= and DTR= lines, a line opened again after its adapter came back) puts
// the level of every open output line back at once, before anything else is
// done. That holds a raised PTT for the microseconds between two system
// calls, which no relay follows. All open output lines are put back, not only
// those of the same path: one port may be named by two (/dev/ttyUSB0 and
// /dev/serial/by-id/...), and putting back a bit already right changes
// nothing. Another program's open raises them too; the check each second
// puts the line back (nothing tells of that open sooner).

#include "node/radio/linekinds.h"
#include "node/radio/sysio.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <vector>

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

class SerialOutput;

// The output lines whose port is open, in the order they were opened.
std::vector<SerialOutput *> &openOutputs()
{
    static std::vector<SerialOutput *> lines;
    return lines;
}

void putBackOutputs(const SerialOutput *except);

// The open port, as both kinds of serial line use it. Whether it is a serial
// port at all shows in the first ioctl its owner makes.
struct SerialPort {
    int fd = -1;

    // O_NONBLOCK: the open must not wait for DCD on a port without CLOCAL.
    // `first` runs straight after the open (an output line's own level),
    // then every other output line's level is put back.
    bool open(const QString &path, const std::function<QString(int)> &reason, QString *why,
              const SerialOutput *self, const std::function<bool(QString *)> &first)
    {
        fd = SysIo::get().open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            *why = reason(errno);
            return false;
        }
        const bool ok = !first || first(why);
        putBackOutputs(self);
        if (!ok)
            close();
        return ok;
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

    // Best effort: a port that fails here is found by its own check.
    void putBack()
    {
        QString ignored;
        writeWanted(&ignored);
    }

protected:
    bool openDevice(QString *why) override
    {
        if (!m_port.open(lineSpec().device, reasonFn(), why, this, [this](QString *w) { return writeWanted(w); }))
            return false;
        openOutputs().push_back(this);
        return true;
    }
    // Written in openDevice already, before the other lines were put back.
    bool afterOpen(QString *) override { return true; }
    bool writeLevel(bool high, QString *why) override
    {
        int bit = m_bit;
        if (SysIo::get().ioctl(m_port.fd, high ? TIOCMBIS : TIOCMBIC, &bit) < 0) {
            *why = reason(errno);
            return false;
        }
        return true;
    }
    // A bit found at the wrong level (another program opened the port) is put back.
    bool probeDevice(QString *why) override
    {
        int bits = 0;
        if (!m_port.bits(&bits, lineSpec().device, reasonFn(), why))
            return false;
        return bool(bits & m_bit) == wantedHigh() || writeWanted(why);
    }
    void closeDevice() override
    {
        std::erase(openOutputs(), this);
        m_port.close();
    }

private:
    bool wantedHigh() const { return active() != lineSpec().activeLow; }
    bool writeWanted(QString *why) { return writeLevel(wantedHigh(), why); }
    std::function<QString(int)> reasonFn() const
    {
        return [this](int err) { return reason(err); };
    }
    SerialPort m_port;
    int m_bit;
};

void putBackOutputs(const SerialOutput *except)
{
    for (SerialOutput *line : openOutputs())
        if (line != except)
            line->putBack();
}

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
    bool openDevice(QString *why) override { return m_port.open(lineSpec().device, reasonFn(), why, nullptr, {}); }
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
