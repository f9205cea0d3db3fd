#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace mirelva::radio {

// One wire between the node and the radio, as echolink.ini names it:
//   serial:/dev/ttyUSB0:RTS     RTS or DTR out; CTS, DSR, DCD or RI in
//   hidraw:/dev/hidraw0:3       a CM108/CM119 GPIO pin 1..8 (in or out), or
//                               VOL_UP, VOL_DN, MUTE_PLAY, MUTE_REC (in only)
//   gpio:gpiochip0:17           a line offset on a GPIO chip (Raspberry Pi: BCM number)
// Any may end in ":active-low". "" or "none" is no line (kind None).
struct LineSpec {
    enum Kind { None, Serial, HidRaw, Gpio };
    Kind kind = None;
    QString device;          // "/dev/ttyUSB0", "/dev/hidraw0", "gpiochip0"
    QString pin;             // "RTS", "3", "VOL_DN", "17" (upper case)
    int number = 0;          // hidraw GPIO pin 1..8 (0 for a button), gpio line offset, 0 for serial
    bool activeLow = false;

    static std::optional<LineSpec> parse(const QString &text, QString *error);
    QString toString() const;
    bool canDrive() const;   // can be an output line
};

// What both kinds of line share: the device kept open, its trouble told, and
// a slow timer that checks an open device and tries a missing one again, so a
// USB sound card pulled out and put back is picked up by itself.
class Line : public QObject {
    Q_OBJECT
public:
    ~Line() override;
    const LineSpec &lineSpec() const { return m_spec; }
    bool available() const { return m_available; }
    // Why the line cannot be used, naming the device: "/dev/hidraw0: permission
    // denied (...)". Empty while it is available.
    QString problem() const { return m_problem; }
    // What the slow timer runs each second: probe the open device, or try
    // opening it again. Tests call it instead of waiting.
    void checkDevice();

    static constexpr int kCheckIntervalMs = 1000;

signals:
    void availabilityChanged(bool available);

protected:
    Line(const LineSpec &lineSpec, QObject *parent);
    void start();            // called once the object is whole (virtual calls)
    void stop();             // called by the most derived destructor
    // A read, write or probe failed: say why, let go of the device, try again later.
    void deviceFailed(const QString &why);
    // The device's name in messages.
    QString deviceName() const;
    // errno turned into the reason an operator can act on.
    QString reason(int err) const;

    virtual bool openDevice(QString *why) = 0;
    virtual bool afterOpen(QString *why) = 0;  // apply the wanted level / read the present one
    virtual bool probeDevice(QString *why) = 0;
    virtual void closeDevice() = 0;
    virtual void beforeClose() {}               // an output line lets go of the transmitter

private:
    void tryOpen();
    void setAvailable(bool available, const QString &problem);

    LineSpec m_spec;
    bool m_open = false;
    bool m_available = false;
    bool m_started = false;
    QString m_problem;
    QTimer m_check;
};

// PTT, the fan. Starts inactive: a restart never starts with the transmitter keyed.
class OutputLine : public Line {
    Q_OBJECT
public:
    // nullptr for kind None. A line description that cannot drive (an input pin) gives a
    // line that stays unavailable and says why.
    static std::unique_ptr<OutputLine> create(const LineSpec &lineSpec, QObject *parent = nullptr);
    // The wanted level is kept and applied again when the device comes back.
    void set(bool active);
    bool active() const { return m_active; }

protected:
    OutputLine(const LineSpec &lineSpec, QObject *parent) : Line(lineSpec, parent) {}
    // The electrical level: true = high / asserted.
    virtual bool writeLevel(bool high, QString *why) = 0;
    bool afterOpen(QString *why) override;
    void beforeClose() override;

private:
    bool m_active = false;
};

// The squelch.
class InputLine : public Line {
    Q_OBJECT
public:
    static std::unique_ptr<InputLine> create(const LineSpec &lineSpec, QObject *parent = nullptr);
    bool active() const { return m_active; }

signals:
    void changed(bool active);

protected:
    InputLine(const LineSpec &lineSpec, QObject *parent) : Line(lineSpec, parent) {}
    // What the device reads: true = high / asserted. Active-low is applied here.
    void levelRead(bool high);
    void beforeClose() override;            // a line that is gone reads inactive

private:
    bool m_active = false;
};

} // namespace mirelva::radio
