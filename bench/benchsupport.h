#pragma once

// What several benchmarks share.

#include <algorithm>
#include <functional>
#include <vector>

#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QTimer>
#include <QtGlobal>

#include "core/speechvoice.h"

namespace mirelva::bench {

// A voice that speaks nowhere and at once: the benchmarks time the program,
// not the speech.
class SilentVoice : public SpeechVoice {
protected:
    void play(const QString &, int) override {}
};

// The median of a sample; 0 for none.
inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs the event loop until `done` (looked at every 50 ms) or for `ms` at
// most: timers and sockets are served and the thread sleeps between them. A
// loop polling processEvents() instead would keep a core busy and skew what
// a benchmark measures beside it.
inline void waitFor(const std::function<bool()> &done, int ms)
{
    if (done())
        return;
    QEventLoop loop;
    QTimer look, limit;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    look.start(50);
    limit.setSingleShot(true);
    limit.start(ms);
    loop.exec();
}
inline void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A "Name:   1234 kB" field of a /proc file (status, smaps_rollup), in kB;
// -1 when the file or the field is missing.
inline long procKb(const QString &path, const QByteArray &name)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

// A datagram from a node's transmitter sound device: when it came (us), how
// much audio it held (ms), whether it was loud.
struct TxBlock {
    qint64 atUs;
    double ms;
    bool loud;
};

// The gaps a sound card would play in an over: the datagrams played in turn
// from the first loud one to the last, each from its arrival or when the one
// before ends, whichever is later. A datagram more than 20 ms after the card
// ran dry (loopback and the sender's timer wobble by less), or a quiet one,
// is missing audio; missing audio in a row is one gap. Gaps that begin from
// `tailUs` on are counted apart: at an over's end a node waits to see that
// the over has ended before playing its last samples.
struct Gaps {
    int count = 0, tailCount = 0;
    double ms = 0, tailMs = 0;
};
inline Gaps gaps(const std::vector<TxBlock> &blocks, qint64 tailUs)
{
    Gaps g;
    const auto first = std::find_if(blocks.begin(), blocks.end(), [](const TxBlock &b) { return b.loud; });
    const auto last = std::find_if(blocks.rbegin(), blocks.rend(), [](const TxBlock &b) { return b.loud; });
    if (first == blocks.end())
        return g;
    bool inGap = false;
    double playsUntilUs = double(first->atUs);
    for (auto b = first; b != last.base(); ++b) {
        double missing = 0;
        const bool tail = playsUntilUs >= double(tailUs);
        if (double(b->atUs) > playsUntilUs + 20000)
            missing += (double(b->atUs) - playsUntilUs) / 1000;
        if (!b->loud)
            missing += b->ms;
        playsUntilUs = std::max(playsUntilUs, double(b->atUs)) + b->ms * 1000;
        if (missing > 0 && !inGap)
            ++(tail ? g.tailCount : g.count);
        inGap = missing > 0;
        (tail ? g.tailMs : g.ms) += missing;
    }
    return g;
}

} // namespace mirelva::bench
