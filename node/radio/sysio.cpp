#include "node/radio/sysio.h"

#include <gpiod.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirelva::radio {

namespace {
SysIo g_real;
SysIo *g_current = &g_real;
} // namespace

SysIo &SysIo::get() { return *g_current; }
void SysIo::setForTests(SysIo *io) { g_current = io ? io : &g_real; }

int SysIo::open(const char *path, int flags) { return ::open(path, flags | O_CLOEXEC); }
int SysIo::close(int fd) { return ::close(fd); }
ssize_t SysIo::read(int fd, void *buf, size_t n) { return ::read(fd, buf, n); }
ssize_t SysIo::write(int fd, const void *buf, size_t n) { return ::write(fd, buf, n); }
int SysIo::ioctl(int fd, unsigned long request, void *arg) { return ::ioctl(fd, request, arg); }
bool SysIo::exists(const char *path)
{
    struct stat st;
    return ::stat(path, &st) == 0;
}

gpiod_chip *SysIo::chipOpenLookup(const char *name) { return gpiod_chip_open_lookup(name); }
void SysIo::chipClose(gpiod_chip *chip) { gpiod_chip_close(chip); }
QByteArray SysIo::chipPath(gpiod_chip *chip) { return QByteArray("/dev/") + gpiod_chip_name(chip); }
gpiod_line *SysIo::chipGetLine(gpiod_chip *chip, unsigned offset) { return gpiod_chip_get_line(chip, offset); }
int SysIo::lineRequestOutput(gpiod_line *line, const char *consumer, int value)
{
    return gpiod_line_request_output(line, consumer, value);
}
int SysIo::lineRequestBothEdges(gpiod_line *line, const char *consumer)
{
    return gpiod_line_request_both_edges_events(line, consumer);
}
int SysIo::lineSetValue(gpiod_line *line, int value) { return gpiod_line_set_value(line, value); }
int SysIo::lineGetValue(gpiod_line *line) { return gpiod_line_get_value(line); }
int SysIo::lineEventFd(gpiod_line *line) { return gpiod_line_event_get_fd(line); }
int SysIo::lineEventRead(gpiod_line *line)
{
    gpiod_line_event event;
    if (gpiod_line_event_read(line, &event) < 0)
        return -1;
    return event.event_type == GPIOD_LINE_EVENT_RISING_EDGE ? 1 : 0;
}

} // namespace mirelva::radio
