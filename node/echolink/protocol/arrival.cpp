#include "node/echolink/protocol/arrival.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <time.h>

namespace mirelva::echolink {

qint64 receiveAgeNs(qintptr socket)
{
    if (socket < 0)
        return -1;
    timespec stamp{};
    if (::ioctl(int(socket), SIOCGSTAMPNS, &stamp) != 0)
        return -1;
    // The stamp is on the wall clock; only the age is taken from it.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return (qint64(now.tv_sec) - qint64(stamp.tv_sec)) * 1000000000 + (qint64(now.tv_nsec) - qint64(stamp.tv_nsec));
}

qint64 arrivalMs(qint64 nowMs, qint64 ageNs)
{
    if (ageNs < 0 || ageNs >= kMaxAgeMs * 1000000)
        return nowMs;
    return nowMs - ageNs / 1000000;
}

} // namespace mirelva::echolink
