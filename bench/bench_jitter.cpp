// A station's over through the node's jitter buffer and through SvxLink's
// receive scheme (decoded on arrival into a 2048-sample FIFO that starts
// playing at 1024 samples and again after running dry), side by side, on a
// simulated clock: packets every 80 ms, each delayed by a uniform random
// 0..JITTER ms (so they overtake each other beyond 80 ms) and 2 % lost; the
// sound card pulls 20 ms at a time. Figures only, no assertions.
//
//   bench_jitter [--seed N] [--loss PERCENT]   (2 % by default)
//
// underruns: gaps inside an over where the output had nothing of the talker
// (SvxLink: its FIFO short; ours: a wait, or a stand-in for a packet that
// did come but too late), with the ms they cost. Stand-ins for packets the
// network lost are counted apart (SvxLink simply has nothing for them).
// delay: from a packet's sending to the output playing its first sample;
// start: from an over's first packet's sending to the output playing its
// first audio (what a listener waits for at each over).
// A fresh buffer starts cold (the node has heard no one) or, as a new
// station on a node that has learnt the network, with the node's history of
// another station's minute at the same jitter.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include <QByteArray>

#include "bench/benchsupport.h"
#include "node/echolink/audio/gsmcodec.h"
#include "node/echolink/audio/jitterbuffer.h"

using namespace mirelva::echolink;

namespace {

double g_loss = 0.02;

struct Packet {
    int index;        // in the over
    quint16 seq;
    qint64 sent;
    qint64 arrives;
    bool lost;
};

struct Tally {
    int overs = 0;
    int underruns = 0;
    double silenceMs = 0;
    int concealedMs = 0;
    std::vector<double> delays;
    std::vector<double> starts;
    void add(const Tally &o)
    {
        starts.insert(starts.end(), o.starts.begin(), o.starts.end());
        overs += o.overs;
        underruns += o.underruns;
        silenceMs += o.silenceMs;
        concealedMs += o.concealedMs;
        delays.insert(delays.end(), o.delays.begin(), o.delays.end());
    }
};

std::vector<Packet> makeOver(int packets, quint16 firstSeq, qint64 start, int jitterMs, std::mt19937 &rng)
{
    std::uniform_int_distribution<int> jitter(0, jitterMs);
    std::uniform_real_distribution<double> chance(0, 1);
    std::vector<Packet> out;
    for (int i = 0; i < packets; ++i) {
        const qint64 sent = start + qint64(i) * kPacketMs;
        out.push_back({i, quint16(firstSeq + i), sent, sent + jitter(rng), chance(rng) < g_loss});
    }
    return out;
}

// Inside an over, the pulls between its first and last audio that had none
// of it, in runs.
struct GapCounter {
    std::vector<double> missingMs;   // per pull after the first audio
    bool started = false;
    void pull(double missing, bool anyAudio)
    {
        if (anyAudio)
            started = true;
        if (started)
            missingMs.push_back(anyAudio ? missing : 20.0);
    }
    void finish(Tally &t)
    {
        while (!missingMs.empty() && missingMs.back() >= 20.0)
            missingMs.pop_back();
        bool inGap = false;
        for (const double m : missingMs) {
            if (m > 0 && !inGap)
                ++t.underruns;
            inGap = m > 0;
            t.silenceMs += m;
        }
        missingMs.clear();
        started = false;
    }
};

// Ours: one buffer across all overs given (its jitter history carries over),
// pulled every 20 ms, the pulls' phase moved to each over's start as the
// node's step does.
Tally runOurs(const std::vector<std::vector<Packet>> &overs, int phase, LatenessHistory *network = nullptr)
{
    Tally t;
    JitterBuffer jb(network);
    // Loud speech all through: the buffer finds no pause to shrink in.
    GsmCodec codec;
    std::vector<qint16> loud(kPacketSamples);
    for (int i = 0; i < kPacketSamples; ++i)
        loud[size_t(i)] = qint16((i * 37 % 200 - 100) * 160);
    const QByteArray payload = codec.encodePacket(loud.data());
    for (const auto &over : overs) {
        std::vector<Packet> order = over;
        std::stable_sort(order.begin(), order.end(), [](const Packet &a, const Packet &b) { return a.arrives < b.arrives; });
        GapCounter gaps;
        size_t next = 0;
        const qint64 from = over.front().sent;
        const qint64 until = over.back().sent + 2000;
        const quint16 firstSeq = over.front().seq;
        bool started = false;
        for (qint64 now = from; now < until; ++now) {
            for (; next < order.size() && order[next].arrives <= now; ++next)
                if (!order[next].lost)
                    jb.push(order[next].seq, payload, now);
            // The node moves its 20 ms step to when an over may begin.
            if (jb.startsAtMs() >= 0 && now >= jb.startsAtMs() && now - jb.startsAtMs() < kFrameMs)
                phase = int(now % kFrameMs);
            if ((now - phase) % kFrameMs != 0)
                continue;
            const JitterBuffer::Frame f = jb.pull(now);
            const int index = quint16(f.seq - firstSeq);
            switch (f.kind) {
            case JitterBuffer::Kind::Audio:
                if (f.part == 0)
                    t.delays.push_back(double(now - over[size_t(index)].sent));
                if (!started)
                    t.starts.push_back(double(now - from));
                started = true;
                gaps.pull(0, true);
                break;
            case JitterBuffer::Kind::Lost:
                if (index < int(over.size()) && over[size_t(index)].lost) {
                    t.concealedMs += kFrameMs;
                    gaps.pull(0, true);
                } else {
                    gaps.pull(20, false);
                }
                break;
            case JitterBuffer::Kind::Stall:
                gaps.pull(20, false);
                break;
            case JitterBuffer::Kind::Idle:
                gaps.pull(20, false);
                break;
            }
        }
        gaps.finish(t);
        ++t.overs;
    }
    return t;
}

// SvxLink's: each packet decoded as it comes into a FIFO of 2048 samples
// (the oldest overwritten when full), played from 1024 on, and after running
// dry from 1024 again; what is left is played out once receiving has ended
// (180 ms without a packet at the least).
Tally runSvxLink(const std::vector<std::vector<Packet>> &overs, int phase)
{
    constexpr int kFifo = 2048, kPrebuf = 1024, kFlushMs = 180;
    Tally t;
    for (const auto &over : overs) {
        std::vector<Packet> order = over;
        std::stable_sort(order.begin(), order.end(), [](const Packet &a, const Packet &b) { return a.arrives < b.arrives; });
        struct Run {
            int packet;
            int from;   // first sample of the packet still in the FIFO
            int count;
        };
        std::deque<Run> fifo;
        int fill = 0;
        bool prebuffering = true;
        qint64 lastArrival = 0;
        GapCounter gaps;
        size_t next = 0;
        bool started = false;
        const qint64 from = over.front().sent;
        const qint64 until = over.back().sent + 2000;
        for (qint64 now = from; now < until; ++now) {
            for (; next < order.size() && order[next].arrives <= now; ++next) {
                if (order[next].lost)
                    continue;
                fifo.push_back({order[next].index, 0, kPacketSamples});
                fill += kPacketSamples;
                lastArrival = now;
                while (fill > kFifo) {
                    const int drop = std::min(fill - kFifo, fifo.front().count);
                    fifo.front().from += drop;
                    fifo.front().count -= drop;
                    fill -= drop;
                    if (fifo.front().count == 0)
                        fifo.pop_front();
                }
            }
            if ((now - phase) % kFrameMs != 0)
                continue;
            if (prebuffering && (fill >= kPrebuf || (fill > 0 && now - lastArrival >= kFlushMs)))
                prebuffering = false;
            if (prebuffering) {
                gaps.pull(20, false);
                continue;
            }
            int taken = 0;
            while (taken < kFrameSamples && !fifo.empty()) {
                Run &r = fifo.front();
                const int take = std::min(kFrameSamples - taken, r.count);
                if (r.from == 0)
                    t.delays.push_back(double(now - over[size_t(r.packet)].sent) + taken / 8.0);
                if (!started)
                    t.starts.push_back(double(now - from) + taken / 8.0);
                started = true;
                r.from += take;
                r.count -= take;
                taken += take;
                fill -= take;
                if (r.count == 0)
                    fifo.pop_front();
            }
            gaps.pull((kFrameSamples - taken) / 8.0, taken > 0);
            if (fill == 0)
                prebuffering = true;
        }
        gaps.finish(t);
        ++t.overs;
    }
    return t;
}

void print(const char *scenario, int jitter, const char *scheme, const Tally &t)
{
    const double worst = t.delays.empty() ? 0 : *std::max_element(t.delays.begin(), t.delays.end());
    std::printf("%-40s %4d ms  %-8s %5d %9d %11.0f %12d %10.0f %10.0f %10.0f\n", scenario, jitter, scheme, t.overs,
                t.underruns, t.silenceMs, t.concealedMs, mirelva::bench::median(t.delays), worst,
                mirelva::bench::median(t.starts));
}

} // namespace

int main(int argc, char **argv)
{
    unsigned seed = 1;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seed") == 0)
            seed = unsigned(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--loss") == 0)
            g_loss = std::atof(argv[i + 1]) / 100;
    std::printf("%-40s %7s  %-8s %5s %9s %11s %12s %10s %10s %10s\n", "scenario", "jitter", "scheme", "overs",
                "underruns", "silence ms", "concealed ms", "median ms", "worst ms", "start ms");
    struct Scenario {
        const char *name;
        int trials;          // fresh buffer each
        int oversPerTrial;   // on one buffer, 2 s apart
        int packetsPerOver;
        bool learnt;         // the node has heard another station's minute
    };
    const Scenario scenarios[] = {
        {"one 6 s over, cold node (x100)", 100, 1, 75},
        {"one 6 s over, new station (x100)", 100, 1, 75, true},
        {"60 overs of 6 s on one buffer", 1, 60, 75},
        {"10 overs of 60 s on one buffer", 1, 10, 750},
    };
    for (const Scenario &sc : scenarios) {
        for (const int jitter : {0, 60, 120}) {
            std::mt19937 rng(seed + unsigned(jitter));
            Tally ours, svx;
            for (int trial = 0; trial < sc.trials; ++trial) {
                std::vector<std::vector<Packet>> overs;
                quint16 seq = quint16(rng());
                qint64 start = 1000;
                for (int o = 0; o < sc.oversPerTrial; ++o) {
                    overs.push_back(makeOver(sc.packetsPerOver, seq, start, jitter, rng));
                    seq = quint16(seq + sc.packetsPerOver);
                    start += qint64(sc.packetsPerOver) * kPacketMs + 4000;
                }
                const int phase = int(rng() % kFrameMs);
                LatenessHistory network;
                if (sc.learnt)
                    runOurs({makeOver(750, quint16(rng()), 1000, jitter, rng)}, phase, &network);
                ours.add(runOurs(overs, phase, sc.learnt ? &network : nullptr));
                svx.add(runSvxLink(overs, phase));
            }
            print(sc.name, jitter, "ours", ours);
            print(sc.name, jitter, "SvxLink", svx);
        }
    }
    return 0;
}
