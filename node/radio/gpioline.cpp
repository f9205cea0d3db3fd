// GPIO lines through the kernel's GPIO character device (/dev/gpiochipN), by
// libgpiod v1. The chip is named as gpiod_chip_open_lookup takes it
// ("gpiochip0", "/dev/gpiochip0", its label or its number); the line by its
// offset on that chip, which on a Raspberry Pi's gpiochip0 is the BCM number.
// Active-low is applied here rather than by the kernel, as for the other kinds.
// An input line asks for both edges and reads them from the request's file
// descriptor when it becomes readable.

#include "node/radio/linekinds.h"
#include "node/radio/releaseguard.h"
#include "node/radio/sysio.h"

#include <QSocketNotifier>

#include <cerrno>

namespace mirelva::radio {

namespace {

// The open chip and the requested line.
struct GpioHandle {
    gpiod_chip *chip = nullptr;
    gpiod_line *line = nullptr;

    bool open(const LineSpec &lineSpec, const std::function<QString(int)> &reason, const QString &name, QString *why)
    {
        SysIo &io = SysIo::get();
        chip = io.chipOpenLookup(lineSpec.device.toLocal8Bit().constData());
        if (!chip) {
            *why = reason(errno);
            return false;
        }
        line = io.chipGetLine(chip, unsigned(lineSpec.number));
        if (!line) {
            *why = errno == EINVAL ? QStringLiteral("%1: the chip has no such line").arg(name) : reason(errno);
            close();
            return false;
        }
        return true;
    }
    void close()
    {
        if (chip)
            SysIo::get().chipClose(chip);   // releases the line's request too
        chip = nullptr;
        line = nullptr;
    }
};

class GpioOutput : public OutputLine {
public:
    GpioOutput(const LineSpec &lineSpec, QObject *parent) : OutputLine(lineSpec, parent) { start(); }
    ~GpioOutput() override { stop(); }

protected:
    bool openDevice(QString *why) override
    {
        if (!m_gpio.open(lineSpec(), reasonFn(), deviceName(), why))
            return false;
        // Requested at the level wanted (released, unless keyed before the chip
        // went away), so the pin never shows another for a moment.
        if (SysIo::get().lineRequestOutput(m_gpio.line, kConsumer, active() != lineSpec().activeLow ? 1 : 0) < 0) {
            *why = reason(errno);
            m_gpio.close();
            return false;
        }
        m_guard.armGpio(QString::fromLocal8Bit(SysIo::get().chipPath(m_gpio.chip)), lineSpec().number,
                        lineSpec().activeLow ? 1 : 0);
        return true;
    }
    bool writeLevel(bool high, QString *why) override
    {
        if (SysIo::get().lineSetValue(m_gpio.line, high ? 1 : 0) < 0) {
            *why = reason(errno);
            return false;
        }
        return true;
    }
    bool probeDevice(QString *why) override
    {
        if (SysIo::get().lineGetValue(m_gpio.line) >= 0)
            return true;
        *why = reason(errno);
        return false;
    }
    void closeDevice() override
    {
        m_guard.disarm();
        m_gpio.close();
    }

private:
    std::function<QString(int)> reasonFn() const
    {
        return [this](int err) { return reason(err); };
    }
    GpioHandle m_gpio;
    ReleaseGuard m_guard;
};

class GpioInput : public InputLine {
public:
    GpioInput(const LineSpec &lineSpec, QObject *parent) : InputLine(lineSpec, parent) { start(); }
    ~GpioInput() override { stop(); }

protected:
    bool openDevice(QString *why) override
    {
        SysIo &io = SysIo::get();
        if (!m_gpio.open(lineSpec(), [this](int err) { return reason(err); }, deviceName(), why))
            return false;
        int fd = -1;
        if (io.lineRequestBothEdges(m_gpio.line, kConsumer) < 0 || (fd = io.lineEventFd(m_gpio.line)) < 0) {
            *why = reason(errno);
            m_gpio.close();
            return false;
        }
        m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
            const int rising = SysIo::get().lineEventRead(m_gpio.line);
            m_inSignal = true;
            if (rising >= 0)
                levelRead(rising == 1);
            else if (errno != EAGAIN && errno != EINTR)
                deviceFailed(reason(errno));
            m_inSignal = false;
        });
        return true;
    }
    bool afterOpen(QString *why) override { return probeDevice(why); }
    bool probeDevice(QString *why) override
    {
        const int value = SysIo::get().lineGetValue(m_gpio.line);
        if (value < 0) {
            *why = reason(errno);
            return false;
        }
        levelRead(value == 1);
        return true;
    }
    void closeDevice() override
    {
        // Inside the notifier's own signal it goes when that returns.
        if (m_notifier && m_inSignal) {
            m_notifier->setEnabled(false);
            m_notifier.release()->deleteLater();
        }
        m_notifier.reset();
        m_gpio.close();
    }

private:
    GpioHandle m_gpio;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_inSignal = false;
};

} // namespace

std::unique_ptr<OutputLine> makeGpioOutput(const LineSpec &lineSpec, QObject *parent)
{
    return std::make_unique<GpioOutput>(lineSpec, parent);
}

std::unique_ptr<InputLine> makeGpioInput(const LineSpec &lineSpec, QObject *parent)
{
    return std::make_unique<GpioInput>(lineSpec, parent);
}

} // namespace mirelva::radio
