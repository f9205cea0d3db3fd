#include "node/radio/lines.h"

#include "node/radio/linekinds.h"

#include <QStringList>

#include <cerrno>
#include <cstring>

namespace mirelva::radio {

namespace {

const QStringList kSerialPins = {"RTS", "DTR", "CTS", "DSR", "DCD", "RI"};
const QStringList kHidButtons = {"VOL_UP", "VOL_DN", "MUTE_PLAY", "MUTE_REC"};

// An output line that names a pin that cannot be driven: it never
// becomes available and says why once.
class UndrivableLine : public OutputLine {
public:
    UndrivableLine(const LineSpec &lineSpec, QObject *parent) : OutputLine(lineSpec, parent) { start(); }
    ~UndrivableLine() override { stop(); }

protected:
    bool openDevice(QString *why) override
    {
        *why = QStringLiteral("%1: %2 is an input and cannot be driven")
                   .arg(deviceName(), lineSpec().pin);
        return false;
    }
    bool probeDevice(QString *) override { return false; }
    void closeDevice() override {}
    bool writeLevel(bool, QString *) override { return false; }
};

} // namespace

std::optional<LineSpec> LineSpec::parse(const QString &text, QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<LineSpec> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const QString t = text.trimmed();
    LineSpec lineSpec;
    if (t.isEmpty() || t.compare("none", Qt::CaseInsensitive) == 0)
        return lineSpec;
    QStringList parts = t.split(':');
    if (parts.size() == 4) {
        if (parts.last().compare("active-low", Qt::CaseInsensitive) != 0)
            return fail(QStringLiteral("\"%1\": unknown option \"%2\" (only active-low)").arg(t, parts.last()));
        lineSpec.activeLow = true;
        parts.removeLast();
    }
    const QString kind = parts.first().toLower();
    const char *example = kind == "serial" ? "serial:/dev/ttyUSB0:RTS"
                          : kind == "hidraw" ? "hidraw:/dev/hidraw0:3"
                                             : "gpio:gpiochip0:17";
    if (kind != "serial" && kind != "hidraw" && kind != "gpio")
        return fail(QStringLiteral("\"%1\": unknown line kind \"%2\" (serial, hidraw, gpio or none)")
                        .arg(t, parts.first()));
    if (parts.size() != 3 || parts[1].isEmpty() || parts[2].isEmpty())
        return fail(QStringLiteral("\"%1\": a %2 line is written as %3").arg(t, kind, example));
    lineSpec.device = parts[1];
    lineSpec.pin = parts[2].toUpper();
    bool numeric = false;
    const int n = lineSpec.pin.toInt(&numeric);
    if (kind == "serial") {
        lineSpec.kind = Serial;
        if (!kSerialPins.contains(lineSpec.pin))
            return fail(QStringLiteral("\"%1\": serial pin \"%2\" is not RTS, DTR, CTS, DSR, DCD or RI")
                            .arg(t, parts[2]));
    } else if (kind == "hidraw") {
        lineSpec.kind = HidRaw;
        if (numeric && n >= 1 && n <= 8)
            lineSpec.number = n;
        else if (!kHidButtons.contains(lineSpec.pin))
            return fail(QStringLiteral("\"%1\": hidraw pin \"%2\" is not 1..8, VOL_UP, VOL_DN, MUTE_PLAY or MUTE_REC")
                            .arg(t, parts[2]));
    } else {
        lineSpec.kind = Gpio;
        if (!numeric || n < 0)
            return fail(QStringLiteral("\"%1\": gpio line \"%2\" is not a line offset (0, 1, 2 ...)")
                            .arg(t, parts[2]));
        lineSpec.number = n;
    }
    return lineSpec;
}

QString LineSpec::toString() const
{
    static const char *kinds[] = {"none", "serial", "hidraw", "gpio"};
    if (kind == None)
        return QStringLiteral("none");
    QString s = QStringLiteral("%1:%2:%3").arg(kinds[kind], device, pin);
    if (activeLow)
        s += QStringLiteral(":active-low");
    return s;
}

bool LineSpec::canDrive() const
{
    switch (kind) {
    case Serial: return pin == "RTS" || pin == "DTR";
    case HidRaw: return number >= 1;
    case Gpio: return true;
    case None: return false;
    }
    return false;
}

// --- Line ---------------------------------------------------------------

Line::Line(const LineSpec &lineSpec, QObject *parent) : QObject(parent), m_spec(lineSpec)
{
    m_check.setInterval(kCheckIntervalMs);
    connect(&m_check, &QTimer::timeout, this, &Line::checkDevice);
}

Line::~Line() = default;

void Line::start()
{
    m_started = true;
    tryOpen();
    m_check.start();
}

void Line::stop()
{
    m_check.stop();
    if (m_open) {
        beforeClose();
        closeDevice();
        m_open = false;
    }
    m_started = false;
}

void Line::checkDevice()
{
    if (!m_started)
        return;
    if (!m_open) {
        tryOpen();
        return;
    }
    QString why;
    if (!probeDevice(&why))
        deviceFailed(why);
}

void Line::tryOpen()
{
    QString why;
    const bool opened = openDevice(&why);
    if (opened) {
        m_open = true;
        if (afterOpen(&why)) {
            setAvailable(true, QString());
            return;
        }
        closeDevice();
        m_open = false;
    }
    setAvailable(false, why);
}

void Line::deviceFailed(const QString &why)
{
    if (m_open) {
        beforeClose();
        closeDevice();
        m_open = false;
    }
    setAvailable(false, why);
}

void Line::setAvailable(bool available, const QString &problem)
{
    m_problem = problem;
    if (available == m_available)
        return;
    m_available = available;
    emit availabilityChanged(available);
}

QString Line::deviceName() const
{
    if (m_spec.kind == LineSpec::Gpio)
        return QStringLiteral("%1 line %2").arg(m_spec.device).arg(m_spec.number);
    return m_spec.device;
}

QString Line::reason(int err) const
{
    const QString dev = deviceName();
    switch (err) {
    case ENOENT:
    case ENXIO:
        return QStringLiteral("%1: no such device").arg(dev);
    case ENODEV:
    case EIO:
    case EPIPE:
    case ECONNRESET:
        return QStringLiteral("%1: device gone (unplugged?); trying again every second").arg(dev);
    case EACCES:
    case EPERM:
        switch (m_spec.kind) {
        case LineSpec::Serial:
            return QStringLiteral("%1: permission denied (join the dialout group)").arg(dev);
        case LineSpec::HidRaw:
            return QStringLiteral("%1: permission denied (join the plugdev group and add the udev rule "
                                  "for the sound card's hidraw device)").arg(dev);
        default:
            return QStringLiteral("%1: permission denied (join the gpio group, or add the udev rule "
                                  "for /dev/gpiochip*)").arg(dev);
        }
    case EBUSY:
        return QStringLiteral("%1: in use by another program").arg(dev);
    case ENOTTY:
        return QStringLiteral("%1: not a serial port").arg(dev);
    default:
        return QStringLiteral("%1: %2").arg(dev, QString::fromLocal8Bit(std::strerror(err)));
    }
}

// --- OutputLine ---------------------------------------------------------

std::unique_ptr<OutputLine> OutputLine::create(const LineSpec &lineSpec, QObject *parent)
{
    if (lineSpec.kind == LineSpec::None)
        return nullptr;
    if (!lineSpec.canDrive())
        return std::make_unique<UndrivableLine>(lineSpec, parent);
    switch (lineSpec.kind) {
    case LineSpec::Serial: return makeSerialOutput(lineSpec, parent);
    case LineSpec::HidRaw: return makeHidrawOutput(lineSpec, parent);
    case LineSpec::Gpio: return makeGpioOutput(lineSpec, parent);
    case LineSpec::None: break;
    }
    return nullptr;
}

void OutputLine::set(bool active)
{
    m_active = active;
    if (!available())
        return;
    QString why;
    if (!writeLevel(active != lineSpec().activeLow, &why))
        deviceFailed(why);
}

bool OutputLine::afterOpen(QString *why)
{
    return writeLevel(m_active != lineSpec().activeLow, why);
}

void OutputLine::beforeClose()
{
    // Best effort: the device may already be gone, and then it keys nothing.
    QString ignored;
    if (m_active)
        writeLevel(lineSpec().activeLow, &ignored);
}

// --- InputLine ----------------------------------------------------------

std::unique_ptr<InputLine> InputLine::create(const LineSpec &lineSpec, QObject *parent)
{
    switch (lineSpec.kind) {
    case LineSpec::Serial: return makeSerialInput(lineSpec, parent);
    case LineSpec::HidRaw: return makeHidrawInput(lineSpec, parent);
    case LineSpec::Gpio: return makeGpioInput(lineSpec, parent);
    case LineSpec::None: break;
    }
    return nullptr;
}

void InputLine::levelRead(bool high)
{
    const bool active = high != lineSpec().activeLow;
    if (active == m_active)
        return;
    m_active = active;
    emit changed(active);
}

void InputLine::beforeClose()
{
    if (!m_active)
        return;
    m_active = false;
    emit changed(false);
}

} // namespace mirelva::radio
