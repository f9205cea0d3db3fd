#pragma once

#include <QByteArray>

#include <sys/types.h>

struct gpiod_chip;
struct gpiod_line;

namespace mirelva::radio {

// The system calls the lines make, one virtual each, so that a test can stand
// in for a serial port's modem lines (a pseudo-terminal has none), a hidraw
// device and a GPIO chip where the machine has none. The real calls are the
// default; nothing here adds behaviour.
class SysIo {
public:
    virtual ~SysIo() = default;

    virtual int open(const char *path, int flags);
    virtual int close(int fd);
    virtual ssize_t read(int fd, void *buf, size_t n);
    virtual ssize_t write(int fd, const void *buf, size_t n);
    virtual int ioctl(int fd, unsigned long request, void *arg);
    virtual bool exists(const char *path);

    // libgpiod v1, call for call. lineEventRead gives 1 for a rising edge,
    // 0 for a falling one, -1 with errno set on failure.
    virtual gpiod_chip *chipOpenLookup(const char *name);
    virtual void chipClose(gpiod_chip *chip);
    virtual QByteArray chipPath(gpiod_chip *chip);   // "/dev/gpiochip0"
    virtual gpiod_line *chipGetLine(gpiod_chip *chip, unsigned offset);
    virtual int lineRequestOutput(gpiod_line *line, const char *consumer, int value);
    virtual int lineRequestBothEdges(gpiod_line *line, const char *consumer);
    virtual int lineSetValue(gpiod_line *line, int value);
    virtual int lineGetValue(gpiod_line *line);
    virtual int lineEventFd(gpiod_line *line);
    virtual int lineEventRead(gpiod_line *line);

    static SysIo &get();
    static void setForTests(SysIo *io);   // nullptr: the real calls again
};

} // namespace mirelva::radio
