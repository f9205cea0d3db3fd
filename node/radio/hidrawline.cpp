// GPIO pins of a CM108/CM119 USB sound card, through its HID interface
// (/dev/hidraw*).
//
// Output: the HID output report sets the pins. Written to hidraw with a
// leading report number 0 (the chip numbers no reports), five bytes:
//   0x00  report number
//   0x00  OR0: bits 7..6 = 00 selects "write GPIO"
//   data  OR1: pin levels, GPIO1 in bit 0 ... GPIO8 in bit 7
//   dir   OR2: pin directions, 1 = output
//   0x00  OR3
// Every pin with a 0 direction bit turns back into an input, so the lines
// this node drives on one card share one pair of masks and every report
// carries all of them (PTT on GPIO3 and a fan on GPIO4 do not undo each
// other).
//
// Input: the card sends a HID input report when an input changes; read(2)
// gives it without a report number:
//   IR0  bit 0 VOL_UP, bit 1 VOL_DN, bit 2 MUTE_PLAY, bit 3 MUTE_REC (the
//        button inputs; interface boards often wire the receiver's COS to VOL_DN)
//   IR1  GPIO input levels, GPIO1 in bit 0 ...
// At open the line asks for the present report (HIDIOCGINPUT); a card that
// does not answer reads inactive until its first report.

#include "node/radio/linekinds.h"
#include "node/radio/releaseguard.h"
#include "node/radio/sysio.h"

#include <QHash>
#include <QStringList>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

namespace mirelva::radio {

namespace {

struct Masks {
    quint8 data = 0;
    quint8 direction = 0;
    int users = 0;     // output lines on the card; the masks go with the last
};

QHash<QString, Masks> &cardMasks()
{
    static QHash<QString, Masks> masks;
    return masks;
}

// The open hidraw device with its reader. Read errors and end of file mean
// the card is gone; the owner hears of it through `gone`.
class HidDevice {
public:
    bool open(const Line &owner, const QString &path, const std::function<QString(int)> &reason, QString *why,
              const std::function<void(const uchar *, int)> &report, const std::function<void(QString)> &gone)
    {
        fd = SysIo::get().open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            *why = reason(errno);
            return false;
        }
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &owner, [=, this] {
            uchar buf[64];
            const ssize_t n = SysIo::get().read(fd, buf, sizeof buf);
            inSignal = true;
            if (n > 0)
                report(buf, int(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                gone(reason(n == 0 ? ENODEV : errno));
            inSignal = false;
        });
        return true;
    }
    void close()
    {
        // Inside the notifier's own signal it goes when that returns.
        if (notifier && inSignal) {
            notifier->setEnabled(false);
            notifier.release()->deleteLater();
        }
        notifier.reset();
        if (fd >= 0)
            SysIo::get().close(fd);
        fd = -1;
    }
    int fd = -1;
    bool inSignal = false;
    std::unique_ptr<QSocketNotifier> notifier;
};

class HidrawOutput : public OutputLine {
public:
    HidrawOutput(const LineSpec &lineSpec, QObject *parent)
        : OutputLine(lineSpec, parent), m_bit(quint8(1u << (lineSpec.number - 1)))
    {
        ++cardMasks()[lineSpec.device].users;
        start();
    }
    ~HidrawOutput() override
    {
        stop();
        if (--cardMasks()[lineSpec().device].users <= 0)
            cardMasks().remove(lineSpec().device);
    }

protected:
    bool openDevice(QString *why) override
    {
        // Reports coming in are read and dropped: reading is how a pulled-out card shows.
        return m_dev.open(*this, lineSpec().device, reasonFn(), why, [](const uchar *, int) {},
                          [this](const QString &why) { deviceFailed(why); });
    }
    // The pins keep what the last program wrote: the level goes first, the
    // watcher (a fork) after it.
    bool afterOpen(QString *why) override
    {
        if (!OutputLine::afterOpen(why))
            return false;
        const char released = lineSpec().activeLow ? char(m_bit) : 0;
        m_guard.armHidraw(lineSpec().device, QByteArray("\0\0", 2) + released + char(m_bit) + '\0');
        return true;
    }
    bool writeLevel(bool high, QString *why) override
    {
        Masks &m = cardMasks()[lineSpec().device];
        m.direction |= m_bit;
        m.data = high ? (m.data | m_bit) : (m.data & ~m_bit);
        const uchar report[5] = {0x00, 0x00, m.data, m.direction, 0x00};
        if (SysIo::get().write(m_dev.fd, report, sizeof report) != ssize_t(sizeof report)) {
            *why = reason(errno);
            return false;
        }
        return true;
    }
    bool probeDevice(QString *why) override
    {
        if (SysIo::get().exists(lineSpec().device.toLocal8Bit().constData()))
            return true;
        *why = reason(ENODEV);
        return false;
    }
    void closeDevice() override
    {
        m_guard.disarm();
        m_dev.close();
    }

private:
    std::function<QString(int)> reasonFn() const
    {
        return [this](int err) { return reason(err); };
    }
    HidDevice m_dev;
    ReleaseGuard m_guard;
    quint8 m_bit;
};

class HidrawInput : public InputLine {
public:
    HidrawInput(const LineSpec &lineSpec, QObject *parent) : InputLine(lineSpec, parent)
    {
        static const QStringList buttons = {"VOL_UP", "VOL_DN", "MUTE_PLAY", "MUTE_REC"};
        if (lineSpec.number >= 1) {
            m_byte = 1;
            m_bit = quint8(1u << (lineSpec.number - 1));
        } else {
            m_byte = 0;
            m_bit = quint8(1u << buttons.indexOf(lineSpec.pin));
        }
        start();
    }
    ~HidrawInput() override { stop(); }

protected:
    bool openDevice(QString *why) override
    {
        return m_dev.open(*this, lineSpec().device, [this](int err) { return reason(err); }, why,
                          [this](const uchar *buf, int n) {
                              if (n > m_byte)
                                  levelRead(buf[m_byte] & m_bit);
                          },
                          [this](const QString &why) { deviceFailed(why); });
    }
    bool afterOpen(QString *) override
    {
        // The answer starts with the report number, then the report.
        uchar buf[8] = {0};
        const int n = SysIo::get().ioctl(m_dev.fd, HIDIOCGINPUT(sizeof buf), buf);
        if (n > m_byte + 1)
            levelRead(buf[m_byte + 1] & m_bit);
        return true;
    }
    bool probeDevice(QString *why) override
    {
        if (SysIo::get().exists(lineSpec().device.toLocal8Bit().constData()))
            return true;
        *why = reason(ENODEV);
        return false;
    }
    void closeDevice() override { m_dev.close(); }

private:
    HidDevice m_dev;
    int m_byte = 0;
    quint8 m_bit = 0;
};

} // namespace

std::unique_ptr<OutputLine> makeHidrawOutput(const LineSpec &lineSpec, QObject *parent)
{
    return std::make_unique<HidrawOutput>(lineSpec, parent);
}

std::unique_ptr<InputLine> makeHidrawInput(const LineSpec &lineSpec, QObject *parent)
{
    return std::make_unique<HidrawInput>(lineSpec, parent);
}

} // namespace mirelva::radio
