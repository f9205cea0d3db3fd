#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gpiod.h>
#include <linux/gpio.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "node/radio/lines.h"
#include "node/radio/releaseguard.h"
#include "node/radio/sysio.h"

using namespace mirelva::radio;

// The machine has no serial port with modem lines (a pseudo-terminal has
// none), no CM108 and no GPIO chip, so the system calls are stood in for:
// a serial port is a set of modem bits; a hidraw device is a socket pair,
// whose far end the test reads reports from and writes input reports to; a
// GPIO chip is a table of lines with a pipe for each one's edge events.
class FakeSys : public SysIo {
public:
    struct Device {
        bool present = true;
        int openError = 0;            // EACCES: present, not ours to open
        int bits = 0;                 // serial modem bits
        std::vector<int> farEnds;     // hidraw: the test's ends, one per open
        std::map<int, int> values;    // gpio: line offset -> level
        std::map<int, int> eventWrite;
    };
    std::map<std::string, Device> devices;
    std::map<int, std::string> serialFds;
    std::map<int, int> serialOpenNumber;   // fd -> #n, the nth open of a tty
    QStringList serialCalls;               // "#2 open /dev/ttyFAKE0", "#2 clear DTR", ...
    int tiocmset = 0;

    Device &dev(const QString &name) { return devices[name.toStdString()]; }

    int open(const char *path, int flags) override
    {
        auto it = devices.find(path);
        if (it == devices.end() || !it->second.present || it->second.openError) {
            errno = it == devices.end() || !it->second.present ? ENOENT : it->second.openError;
            return -1;
        }
        if (QByteArray(path).contains("tty")) {
            // Without O_NONBLOCK, the open of a port without CLOCAL waits for
            // DCD, with RTS and DTR already raised: keyed, and the node hung.
            if (!(flags & O_NONBLOCK) && !(it->second.bits & TIOCM_CAR)) {
                it->second.bits |= TIOCM_RTS | TIOCM_DTR;
                errno = EINTR;
                return -1;
            }
            const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            serialFds[fd] = path;
            serialOpenNumber[fd] = int(serialCalls.filter(" open ").size()) + 1;
            serialCalls << QStringLiteral("#%1 open %2").arg(serialOpenNumber[fd]).arg(path);
            // As the kernel does on every open of a tty, not only the first.
            it->second.bits |= TIOCM_RTS | TIOCM_DTR;
            return fd;
        }
        int pair[2];
        socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair);
        fcntl(pair[0], F_SETFL, flags & O_NONBLOCK);
        it->second.farEnds.push_back(pair[1]);
        return pair[0];
    }
    int close(int fd) override
    {
        serialFds.erase(fd);
        return ::close(fd);
    }
    int ioctl(int fd, unsigned long request, void *arg) override
    {
        if (!serialFds.count(fd))
            return SysIo::ioctl(fd, request, arg);
        Device &d = devices[serialFds[fd]];
        if (!d.present)
            return errno = EIO, -1;
        int *bits = static_cast<int *>(arg);
        const QString names = QStringList{*bits & TIOCM_RTS ? "RTS" : "", *bits & TIOCM_DTR ? "DTR" : ""}.join("");
        serialCalls << QStringLiteral("#%1 ").arg(serialOpenNumber[fd])
                           + (request == TIOCMGET ? QStringLiteral("get")
                              : request == TIOCMBIS ? "set " + names
                              : request == TIOCMBIC ? "clear " + names
                                                    : QStringLiteral("other"));
        if (request == TIOCMGET)
            *bits = d.bits;
        else if (request == TIOCMBIS)
            d.bits |= *bits;
        else if (request == TIOCMBIC)
            d.bits &= ~*bits;
        else if (request == TIOCMSET)
            ++tiocmset;
        return 0;
    }
    bool exists(const char *path) override
    {
        auto it = devices.find(path);
        return it != devices.end() && it->second.present;
    }

    // GPIO: the chip handle is its Device; a line handle packs chip and offset.
    struct LineRef {
        Device *chip;
        int offset;
    };
    std::vector<std::unique_ptr<LineRef>> lineRefs;
    gpiod_chip *chipOpenLookup(const char *name) override
    {
        auto it = devices.find(name);
        if (it == devices.end() || !it->second.present || it->second.openError) {
            errno = it == devices.end() || !it->second.present ? ENOENT : it->second.openError;
            return nullptr;
        }
        return reinterpret_cast<gpiod_chip *>(&it->second);
    }
    void chipClose(gpiod_chip *chip) override
    {
        auto *d = reinterpret_cast<Device *>(chip);
        for (auto &[offset, fd] : d->eventWrite)
            ::close(fd);
        d->eventWrite.clear();
    }
    QByteArray chipFile = "/nonexistent/gpiochipF";
    QByteArray chipPath(gpiod_chip *) override { return chipFile; }
    gpiod_line *chipGetLine(gpiod_chip *chip, unsigned offset) override
    {
        if (offset >= 54)
            return errno = EINVAL, nullptr;
        lineRefs.push_back(std::make_unique<LineRef>(LineRef{reinterpret_cast<Device *>(chip), int(offset)}));
        return reinterpret_cast<gpiod_line *>(lineRefs.back().get());
    }
    static LineRef &ref(gpiod_line *line) { return *reinterpret_cast<LineRef *>(line); }
    int lineRequestOutput(gpiod_line *line, const char *, int value) override
    {
        ref(line).chip->values[ref(line).offset] = value;
        return 0;
    }
    int lineRequestBothEdges(gpiod_line *, const char *) override { return 0; }
    int lineSetValue(gpiod_line *line, int value) override
    {
        if (!ref(line).chip->present)
            return errno = ENODEV, -1;
        ref(line).chip->values[ref(line).offset] = value;
        return 0;
    }
    int lineGetValue(gpiod_line *line) override
    {
        if (!ref(line).chip->present)
            return errno = ENODEV, -1;
        return ref(line).chip->values[ref(line).offset];
    }
    std::map<gpiod_line *, int> eventRead;
    int lineEventFd(gpiod_line *line) override
    {
        int p[2];
        pipe2(p, O_NONBLOCK | O_CLOEXEC);
        ref(line).chip->eventWrite[ref(line).offset] = p[1];
        return eventRead[line] = p[0];
    }
    int lineEventRead(gpiod_line *line) override
    {
        if (!ref(line).chip->present)
            return errno = ENODEV, -1;
        char c;
        if (::read(eventRead[line], &c, 1) != 1)
            return errno = EAGAIN, -1;
        return c == '1';
    }

    // What the test does to the devices.
    void setLevel(const QString &name, int bitOrOffset, bool high, int reportByte = 1)
    {
        Device &d = dev(name);
        if (name.contains("tty")) {
            d.bits = high ? (d.bits | bitOrOffset) : (d.bits & ~bitOrOffset);
        } else if (name.contains("hidraw")) {
            uchar report[4] = {0, 0, 0, 0};
            report[reportByte] = high ? uchar(bitOrOffset) : 0;
            for (int fd : d.farEnds)
                ::send(fd, report, sizeof report, MSG_NOSIGNAL);
        } else {
            d.values[bitOrOffset] = high;
            if (d.eventWrite.count(bitOrOffset))
                ::write(d.eventWrite[bitOrOffset], high ? "1" : "0", 1);
        }
    }
    void unplug(const QString &name)
    {
        Device &d = dev(name);
        d.present = false;
        for (int fd : d.farEnds)
            ::close(fd);
        d.farEnds.clear();
        for (auto &[offset, fd] : d.eventWrite)
            ::write(fd, "x", 1);   // the kernel wakes a reader of a removed chip
    }
    // The last report the line wrote to a hidraw device, as hex.
    QByteArray lastReport(const QString &name)
    {
        QByteArray last;
        for (int fd : dev(name).farEnds) {
            char buf[64];
            ssize_t n;
            while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
                last = QByteArray(buf, int(n));
        }
        return last.toHex(' ');
    }
};

class TestRadioLines : public QObject {
    Q_OBJECT
    FakeSys fake;

private slots:
    void initTestCase()
    {
        std::signal(SIGPIPE, SIG_IGN);
        SysIo::setForTests(&fake);
    }
    void init()
    {
        fake.devices.clear();
        fake.serialCalls.clear();
        fake.dev("/dev/ttyFAKE0");
        fake.dev("/dev/hidrawFAKE");
        fake.dev("gpiochipF");
    }

    void parsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");   // the line written back, or the error
        QTest::newRow("serial") << "serial:/dev/ttyUSB0:rts" << "serial:/dev/ttyUSB0:RTS";
        QTest::newRow("hidraw low") << "HIDRAW:/dev/hidraw0:3:Active-Low" << "hidraw:/dev/hidraw0:3:active-low";
        QTest::newRow("hid button") << "hidraw:/dev/hidraw0:vol_dn" << "hidraw:/dev/hidraw0:VOL_DN";
        QTest::newRow("gpio") << "gpio:gpiochip0:17" << "gpio:gpiochip0:17";
        QTest::newRow("none") << " none " << "none";
        QTest::newRow("empty") << "" << "none";
        QTest::newRow("kind") << "usb:/dev/x:1" << "\"usb:/dev/x:1\": unknown line kind \"usb\" (serial, hidraw, gpio or none)";
        QTest::newRow("short") << "serial:/dev/ttyS0" << "\"serial:/dev/ttyS0\": a serial line is written as serial:/dev/ttyUSB0:RTS";
        QTest::newRow("pin") << "serial:/dev/ttyS0:TXD" << "\"serial:/dev/ttyS0:TXD\": serial pin \"TXD\" is not RTS, DTR, CTS, DSR, DCD or RI";
        QTest::newRow("hid pin") << "hidraw:/dev/hidraw0:9" << "\"hidraw:/dev/hidraw0:9\": hidraw pin \"9\" is not 1..8, VOL_UP, VOL_DN, MUTE_PLAY or MUTE_REC";
        QTest::newRow("offset") << "gpio:gpiochip0:-1" << "\"gpio:gpiochip0:-1\": gpio line \"-1\" is not a line offset (0, 1, 2 ...)";
        QTest::newRow("option") << "gpio:gpiochip0:4:inverted" << "\"gpio:gpiochip0:4:inverted\": unknown option \"inverted\" (only active-low)";
    }
    void parsing()
    {
        QFETCH(QString, text);
        QFETCH(QString, result);
        QString error;
        const auto lineSpec = LineSpec::parse(text, &error);
        QCOMPARE(lineSpec ? lineSpec->toString() : error, result);
    }

    // Each kind: starts released, keys, survives the device going away (the
    // transmitter let go where the device still listens), says so, picks the
    // device up again with the wanted level, and releases when it ends.
    void output_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("released");
        QTest::addColumn<QString>("keyed");
        QTest::addColumn<QString>("device");
        QTest::newRow("serial") << "serial:/dev/ttyFAKE0:RTS" << "2" << "6" << "/dev/ttyFAKE0";
        QTest::newRow("serial low") << "serial:/dev/ttyFAKE0:DTR:active-low" << "6" << "4" << "/dev/ttyFAKE0";
        QTest::newRow("hidraw") << "hidraw:/dev/hidrawFAKE:3" << "00 00 00 04 00" << "00 00 04 04 00" << "/dev/hidrawFAKE";
        QTest::newRow("hidraw low") << "hidraw:/dev/hidrawFAKE:1:active-low" << "00 00 01 01 00" << "00 00 00 01 00" << "/dev/hidrawFAKE";
        QTest::newRow("gpio") << "gpio:gpiochipF:17" << "0" << "1" << "gpiochipF line 17";
        QTest::newRow("gpio low") << "gpio:gpiochipF:17:active-low" << "1" << "0" << "gpiochipF line 17";
    }
    void output()
    {
        QFETCH(QString, text);
        QFETCH(QString, released);
        QFETCH(QString, keyed);
        QFETCH(QString, device);
        const LineSpec lineSpec = *LineSpec::parse(text, nullptr);
        const QString dev = lineSpec.device;
        auto level = [&]() -> QString {
            if (lineSpec.kind == LineSpec::Serial)
                return QString::number(fake.dev(dev).bits);
            if (lineSpec.kind == LineSpec::HidRaw)
                return fake.lastReport(dev);
            return QString::number(fake.dev(dev).values[lineSpec.number]);
        };
        fake.dev(dev).bits = TIOCM_RTS | TIOCM_DTR;   // as a tty's open leaves them
        auto line = OutputLine::create(lineSpec);
        QVERIFY(line->available());
        QCOMPARE(level(), released);
        QSignalSpy availability(line.get(), &OutputLine::availabilityChanged);

        line->set(true);
        QCOMPARE(level(), keyed);
        fake.unplug(dev);
        line->checkDevice();
        QTRY_VERIFY(!line->available());
        QCOMPARE(line->problem(), device + ": device gone (unplugged?); trying again every second");
        line->checkDevice();
        QCOMPARE(line->problem(), device + ": no such device");
        QVERIFY(line->active());

        fake.dev(dev).present = true;
        line->checkDevice();
        QVERIFY(line->available());
        QCOMPARE(line->problem(), QString());
        QCOMPARE(level(), keyed);
        QCOMPARE(availability.count(), 2);

        line.reset();
        QCOMPARE(level(), released);
        QCOMPARE(fake.tiocmset, 0);
    }

    // PTT on RTS, an active-low DTR line held active (DTR low) and the
    // squelch on CTS, all on one port. Every open of a tty raises RTS and DTR
    // again, so each open is at once followed by every output line's level:
    // its own first, then the other lines' in the order they were opened.
    // Another program's open raises them too; the check each second puts
    // them back.
    void serialOpensLeaveEveryOutputAtItsLevel()
    {
        auto ptt = OutputLine::create(*LineSpec::parse("serial:/dev/ttyFAKE0:RTS", nullptr));
        auto dtr = OutputLine::create(*LineSpec::parse("serial:/dev/ttyFAKE0:DTR:active-low", nullptr));
        dtr->set(true);
        auto sql = InputLine::create(*LineSpec::parse("serial:/dev/ttyFAKE0:CTS", nullptr));
        QVERIFY(ptt->available() && dtr->available() && sql->available());
        QCOMPARE(fake.dev("/dev/ttyFAKE0").bits, 0);
        QCOMPARE(fake.serialCalls, (QStringList{"#1 open /dev/ttyFAKE0", "#1 clear RTS",
                                                "#2 open /dev/ttyFAKE0", "#2 set DTR", "#1 clear RTS",
                                                "#2 clear DTR",
                                                "#3 open /dev/ttyFAKE0", "#1 clear RTS", "#2 clear DTR", "#3 get"}));

        fake.serialCalls.clear();
        fake.dev("/dev/ttyFAKE0").bits |= TIOCM_RTS | TIOCM_DTR;   // another program's open
        ptt->checkDevice();
        dtr->checkDevice();
        QCOMPARE(fake.dev("/dev/ttyFAKE0").bits, 0);
        QCOMPARE(fake.serialCalls, (QStringList{"#1 get", "#1 clear RTS", "#2 get", "#2 clear DTR"}));
    }

    // Each kind: reads the level (active-low too), closes the squelch when
    // the device goes, and reads it again when it is back.
    void input_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bit");      // serial bit, hidraw report bit, gpio offset
        QTest::addColumn<int>("byte");     // hidraw report byte
        QTest::newRow("serial DCD") << "serial:/dev/ttyFAKE0:DCD" << int(TIOCM_CAR) << 0;
        QTest::newRow("serial CTS low") << "serial:/dev/ttyFAKE0:CTS:active-low" << int(TIOCM_CTS) << 0;
        QTest::newRow("hidraw VOL_DN low") << "hidraw:/dev/hidrawFAKE:VOL_DN:active-low" << 2 << 0;
        QTest::newRow("hidraw GPIO2") << "hidraw:/dev/hidrawFAKE:2" << 2 << 1;
        QTest::newRow("gpio") << "gpio:gpiochipF:27" << 27 << 0;
        QTest::newRow("gpio low") << "gpio:gpiochipF:27:active-low" << 27 << 0;
    }
    void input()
    {
        QFETCH(QString, text);
        QFETCH(int, bit);
        QFETCH(int, byte);
        const LineSpec lineSpec = *LineSpec::parse(text, nullptr);
        const bool low = lineSpec.activeLow;
        auto drive = [&](bool active) { fake.setLevel(lineSpec.device, bit, active != low, byte); };
        drive(false);
        auto line = InputLine::create(lineSpec);
        QSignalSpy changed(line.get(), &InputLine::changed);
        QVERIFY(line->available());
        drive(false);   // a CM108 says nothing until an input changes
        line->checkDevice();
        QVERIFY(!line->active());

        drive(true);
        line->checkDevice();   // serial lines are read on a timer
        QTRY_VERIFY(line->active());
        fake.unplug(lineSpec.device);
        if (lineSpec.kind == LineSpec::Serial)
            line->checkDevice();   // the others hear it from the device at once
        QTRY_VERIFY(!line->available());
        QVERIFY(!line->active());

        fake.dev(lineSpec.device).present = true;
        line->checkDevice();
        QVERIFY(line->available());
        drive(true);
        line->checkDevice();
        QTRY_VERIFY(line->active());
        QCOMPARE(changed.count(), 3);
    }

    void problems_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("problem");
        QTest::newRow("serial") << "serial:/dev/ttyFAKE0:RTS" << EACCES << "/dev/ttyFAKE0: permission denied (join the dialout group)";
        QTest::newRow("hidraw") << "hidraw:/dev/hidrawFAKE:3" << EACCES << "/dev/hidrawFAKE: permission denied (join the plugdev group and add the udev rule for the sound card's hidraw device)";
        QTest::newRow("gpio") << "gpio:gpiochipF:17" << EACCES << "gpiochipF line 17: permission denied (join the gpio group, or add the udev rule for /dev/gpiochip*)";
        QTest::newRow("missing") << "serial:/dev/ttyUSB7:RTS" << 0 << "/dev/ttyUSB7: no such device";
        QTest::newRow("no line") << "gpio:gpiochipF:99" << 0 << "gpiochipF line 99: the chip has no such line";
        QTest::newRow("input pin") << "serial:/dev/ttyFAKE0:CTS" << 0 << "/dev/ttyFAKE0: CTS is an input and cannot be driven";
    }
    void problems()
    {
        QFETCH(QString, text);
        QFETCH(int, error);
        QFETCH(QString, problem);
        const LineSpec lineSpec = *LineSpec::parse(text, nullptr);
        if (fake.devices.count(lineSpec.device.toStdString()))
            fake.dev(lineSpec.device).openError = error;
        auto line = OutputLine::create(lineSpec);
        QVERIFY(!line->available());
        QCOMPARE(line->problem(), problem);
    }

    // Two lines on one sound card (PTT on GPIO3, the fan on GPIO4): each
    // report carries both, so neither turns the other's pin back to an input.
    void cardPinsShared()
    {
        auto ptt = OutputLine::create(*LineSpec::parse("hidraw:/dev/hidrawFAKE:3", nullptr));
        auto fan = OutputLine::create(*LineSpec::parse("hidraw:/dev/hidrawFAKE:4", nullptr));
        fan->set(true);
        ptt->set(true);
        ptt->set(false);
        QCOMPARE(fake.lastReport("/dev/hidrawFAKE"), QByteArray("00 00 08 0c 00"));
    }

    // A node killed while keyed cannot let go itself, and a CM108 or a GPIO
    // chip keeps its pins as they were: the line's watcher writes the
    // released report, or requests the line at its released level.
    void releasedWhenKilled_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("released");
        QTest::newRow("hidraw") << "hidraw:DEV:3" << QByteArray("00 00 00 04 00");
        QTest::newRow("gpio") << "gpio:gpiochipF:17" << QByteArray("line 17 output at 0 for mirelva-release");
        QTest::newRow("gpio low") << "gpio:gpiochipF:17:active-low" << QByteArray("line 17 output at 1 for mirelva-release");
    }
    void releasedWhenKilled()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, released);
        QTemporaryDir dir;
        const QString path = dir.filePath("device");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        fake.dev(path);
        fake.chipFile = path.toLocal8Bit();
        ReleaseGuard::recordGpioRequestsForTests(true);
        const pid_t node = fork();
        if (node == 0) {
            auto ptt = OutputLine::create(*LineSpec::parse(QString(text).replace("DEV", path), nullptr));
            ptt->set(true);
            raise(SIGKILL);
        }
        ReleaseGuard::recordGpioRequestsForTests(false);
        QVERIFY(node > 0);
        waitpid(node, nullptr, 0);
        auto written = [&]() -> QByteArray {
            QFile f(path);
            const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            if (!text.startsWith("gpio") || bytes.size() != sizeof(gpiohandle_request))
                return bytes.toHex(' ');
            gpiohandle_request req;
            std::memcpy(&req, bytes.constData(), sizeof req);
            if (req.lines != 1 || req.flags != GPIOHANDLE_REQUEST_OUTPUT)
                return "not one output line";
            return QStringLiteral("line %1 output at %2 for %3")
                .arg(req.lineoffsets[0])
                .arg(req.default_values[0])
                .arg(QLatin1String(reinterpret_cast<const char *>(req.consumer_label)))
                .toLatin1();
        };
        QTRY_COMPARE(written(), released);
    }
};

QTEST_GUILESS_MAIN(TestRadioLines)
#include "test_radio_lines.moc"
