#include "node/radio/releaseguard.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace mirelva::radio {

namespace {

enum { Hidraw, Gpio };

bool gpioRequestRecorded = false;

// All it needs, laid out before the fork: the watcher touches no heap.
struct Action {
    int kind;
    char path[256];
    unsigned char bytes[8];
    int length;
    int offset;
    int value;
};

[[noreturn]] void watch(int fd, const Action &a)
{
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &ignore, nullptr);
    sigaction(SIGINT, &ignore, nullptr);
    sigaction(SIGHUP, &ignore, nullptr);
    sigaction(SIGPIPE, &ignore, nullptr);
    // Hold nothing of the node's: not its ports, not a serial port (whose
    // last close drops RTS and DTR), not the pipes a parent reads its output from.
    const int keep = dup2(fd, 100);
    close_range(3, 99, 0);
    close_range(101, ~0U, 0);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2)
            close(null);
    }

    char c;
    ssize_t n;
    do
        n = read(keep, &c, 1);
    while (n < 0 && errno == EINTR);
    if (n == 1)
        _exit(0);

    if (a.kind == Hidraw) {
        const int dev = open(a.path, O_WRONLY | O_NONBLOCK);
        if (dev >= 0 && write(dev, a.bytes, size_t(a.length)) == a.length)
            close(dev);
        _exit(0);
    }
    gpiohandle_request req;
    std::memset(&req, 0, sizeof req);
    req.lineoffsets[0] = __u32(a.offset);
    req.flags = GPIOHANDLE_REQUEST_OUTPUT;
    req.default_values[0] = __u8(a.value);
    req.lines = 1;
    std::memcpy(req.consumer_label, "mirelva-release", 16);
    if (gpioRequestRecorded) {
        const int file = open(a.path, O_WRONLY | O_TRUNC);
        if (file >= 0 && write(file, &req, sizeof req) == ssize_t(sizeof req))
            close(file);
        _exit(0);
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int chip = open(a.path, O_RDWR);
        if (chip < 0)
            _exit(1);
        const int r = ioctl(chip, GPIO_GET_LINEHANDLE_IOCTL, &req);
        const int err = errno;
        close(chip);
        if (r == 0) {
            close(req.fd);
            _exit(0);
        }
        if (err != EBUSY)
            _exit(1);
        const timespec wait = {0, 50 * 1000 * 1000};
        nanosleep(&wait, nullptr);
    }
    _exit(1);
}

} // namespace

void ReleaseGuard::recordGpioRequestsForTests(bool on) { gpioRequestRecorded = on; }

void ReleaseGuard::armHidraw(const QString &path, const QByteArray &report)
{
    arm(Hidraw, path.toLocal8Bit(), report, 0, 0);
}

void ReleaseGuard::armGpio(const QString &chipPath, int offset, int value)
{
    arm(Gpio, chipPath.toLocal8Bit(), QByteArray(), offset, value);
}

void ReleaseGuard::arm(int kind, const QByteArray &path, const QByteArray &bytes, int offset, int value)
{
    disarm();
    Action a;
    std::memset(&a, 0, sizeof a);
    if (path.size() >= int(sizeof a.path) || bytes.size() > int(sizeof a.bytes))
        return;
    a.kind = kind;
    std::memcpy(a.path, path.constData(), size_t(path.size()));
    std::memcpy(a.bytes, bytes.constData(), size_t(bytes.size()));
    a.length = int(bytes.size());
    a.offset = offset;
    a.value = value;

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) < 0)
        return;
    const pid_t child = fork();
    if (child == 0) {
        if (fork() != 0)
            _exit(0);
        watch(pair[1], a);
    }
    close(pair[1]);
    if (child < 0) {
        close(pair[0]);
        return;
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_fd = pair[0];
}

void ReleaseGuard::disarm()
{
    if (m_fd < 0)
        return;
    const char stand = 'x';
    send(m_fd, &stand, 1, MSG_NOSIGNAL);
    close(m_fd);
    m_fd = -1;
}

} // namespace mirelva::radio
