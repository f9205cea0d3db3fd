#include "node/echolink/audio/soundio.h"

#include <alsa/asoundlib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstring>
#include <vector>

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

namespace mirelva::echolink {

namespace {

// What ALSA holds: enough to ride over a busy moment of the event loop, little
// enough to keep the radio's delay low.
constexpr unsigned kAlsaLatencyUs = 60000;
constexpr int kReopenMs = 1000;
constexpr int kRoundsPerWakeUp = 8;
constexpr int kRestFrames = SoundOutput::kRestAfterMs / kFrameMs;

QString alsaError(int err) { return QString::fromLocal8Bit(snd_strerror(err)); }

// An ALSA PCM, non-blocking, mono 8 kHz 16-bit (plug devices convert), with
// a socket notifier on each of its poll descriptors.
class AlsaPcm {
public:
    ~AlsaPcm() { close(); }

    bool open(const QString &name, snd_pcm_stream_t stream, QObject *owner, const std::function<void()> &ready,
              QString *error)
    {
        int err = snd_pcm_open(&m_pcm, name.toLocal8Bit().constData(), stream, SND_PCM_NONBLOCK);
        if (err >= 0)
            err = snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSampleRate, 1,
                                     kAlsaLatencyUs);
        if (err < 0) {
            *error = QStringLiteral("alsa:%1: %2").arg(name, alsaError(err));
            close();
            return false;
        }
        const int count = snd_pcm_poll_descriptors_count(m_pcm);
        m_fds.resize(size_t(std::max(count, 0)));
        snd_pcm_poll_descriptors(m_pcm, m_fds.data(), unsigned(m_fds.size()));
        for (const pollfd &p : m_fds) {
            const auto type = (p.events & POLLOUT) ? QSocketNotifier::Write : QSocketNotifier::Read;
            auto *n = new QSocketNotifier(p.fd, type, owner);
            QObject::connect(n, &QSocketNotifier::activated, owner, [this, ready] {
                unsigned short revents = 0;
                for (pollfd &q : m_fds)
                    q.revents = q.events;   // the notifier said this one is ready
                snd_pcm_poll_descriptors_revents(m_pcm, m_fds.data(), unsigned(m_fds.size()), &revents);
                if (revents & (POLLIN | POLLOUT | POLLERR))
                    ready();
            });
            m_notifiers.push_back(n);
        }
        return true;
    }

    void listen(bool on)
    {
        for (QSocketNotifier *n : m_notifiers)
            n->setEnabled(on);
    }

    void close()
    {
        // Possibly from inside one of these notifiers' own signal.
        for (QSocketNotifier *n : m_notifiers) {
            n->setEnabled(false);
            n->deleteLater();
        }
        m_notifiers.clear();
        m_fds.clear();
        if (m_pcm)
            snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }

    snd_pcm_t *pcm() const { return m_pcm; }

private:
    snd_pcm_t *m_pcm = nullptr;
    std::vector<pollfd> m_fds;
    std::vector<QSocketNotifier *> m_notifiers;
};

// A device that failed is tried again every second until it opens.
template <class Device>
void retryEverySecond(Device *device, QTimer &timer, const QString &name)
{
    timer.setInterval(kReopenMs);
    QObject::connect(&timer, &QTimer::timeout, device, [device, &timer, name] {
        QString why;
        if (device->start(&why)) {
            timer.stop();
            emit device->problem(QStringLiteral("alsa:%1 open again").arg(name));
        }
    });
}

class AlsaInput : public SoundInput {
public:
    AlsaInput(const QString &name, QObject *parent) : SoundInput(parent), m_name(name)
    {
        retryEverySecond(this, m_reopen, m_name);
    }

    bool start(QString *error)
    {
        if (!m_alsa.open(m_name, SND_PCM_STREAM_CAPTURE, this, [this] { readNow(); }, error))
            return false;
        m_alsa.listen(!m_paced);
        snd_pcm_start(m_alsa.pcm());
        return true;
    }

protected:
    void listen(bool on) override { m_alsa.listen(on); }
    void readNow() override
    {
        if (!m_alsa.pcm())
            return;
        qint16 buf[kFrameSamples * 4];
        // Bounded, so a device that never runs dry (ALSA's null) cannot hold
        // the thread.
        for (int round = 0; round < kRoundsPerWakeUp; ++round) {
            const snd_pcm_sframes_t n = snd_pcm_readi(m_alsa.pcm(), buf, kFrameSamples * 4);
            if (n == -EAGAIN || n == 0)
                return;
            if (n > 0) {
                deliver(buf, int(n));
                continue;
            }
            if (n == -EPIPE)
                ++m_overruns;
            if (snd_pcm_recover(m_alsa.pcm(), int(n), 1) < 0) {
                fail(int(n));
                return;
            }
            snd_pcm_start(m_alsa.pcm());
        }
    }

    void fail(int err)
    {
        m_alsa.close();
        emit problem(QStringLiteral("alsa:%1: %2; trying again every second").arg(m_name, alsaError(err)));
        m_reopen.start();
    }

    QString m_name;
    AlsaPcm m_alsa;
    QTimer m_reopen;
};

class AlsaOutput : public SoundOutput {
public:
    AlsaOutput(const QString &name, Source source, QObject *parent) : SoundOutput(std::move(source), parent), m_name(name)
    {
        retryEverySecond(this, m_reopen, m_name);
    }

    bool start(QString *error)
    {
        if (!m_alsa.open(m_name, SND_PCM_STREAM_PLAYBACK, this, [this] { write(); }, error))
            return false;
        // Resting until the first audio: nothing pumps it before.
        m_resting = true;
        m_alsa.listen(false);
        return true;
    }

    void wake() override
    {
        if (!m_resting || !m_alsa.pcm())
            return;
        m_resting = false;
        m_idleFrames = 0;
        // Whatever the rest left (silence draining) goes.
        snd_pcm_drop(m_alsa.pcm());
        snd_pcm_prepare(m_alsa.pcm());
        // A little silence first, so the first frames have room to come in time.
        const qint16 silence[kFrameSamples * 2] = {};
        snd_pcm_writei(m_alsa.pcm(), silence, kFrameSamples * 2);
        snd_pcm_uframes_t period = 0;
        m_bufferFrames = 0;
        snd_pcm_get_params(m_alsa.pcm(), &m_bufferFrames, &period);
    }

    void pump() override { write(); }

private:
    void write()
    {
        if (m_resting || !m_alsa.pcm())
            return;
        qint16 frame[kFrameSamples];
        for (int round = 0; round < kRoundsPerWakeUp; ++round) {
            snd_pcm_sframes_t room = snd_pcm_avail_update(m_alsa.pcm());
            if (room < 0) {
                if (room == -EPIPE)
                    ++m_underruns;
                if (snd_pcm_recover(m_alsa.pcm(), int(room), 1) < 0) {
                    fail(int(room));
                    return;
                }
                continue;
            }
            if (room < kFrameSamples)
                return;
            const bool audio = pullFrame(frame);
            // Silence only where the card would otherwise run dry: a frame
            // of it between two of audio is a gap on the air.
            if (!audio && m_bufferFrames > 0 && snd_pcm_sframes_t(m_bufferFrames) - room >= 2 * kFrameSamples &&
                m_idleFrames < kRestFrames)
                return;
            if (m_idleFrames >= kRestFrames) {
                // Let what is queued play out, then stop waking up.
                snd_pcm_drain(m_alsa.pcm());
                m_alsa.listen(false);
                m_resting = true;
                return;
            }
            const snd_pcm_sframes_t n = snd_pcm_writei(m_alsa.pcm(), frame, kFrameSamples);
            if (n < 0 && n != -EAGAIN) {
                if (n == -EPIPE)
                    ++m_underruns;
                if (snd_pcm_recover(m_alsa.pcm(), int(n), 1) < 0) {
                    fail(int(n));
                    return;
                }
            }
        }
    }

    void fail(int err)
    {
        m_alsa.close();
        m_resting = true;
        emit problem(QStringLiteral("alsa:%1: %2; trying again every second").arg(m_name, alsaError(err)));
        m_reopen.start();
    }

    QString m_name;
    AlsaPcm m_alsa;
    QTimer m_reopen;
    snd_pcm_uframes_t m_bufferFrames = 0;
};

class UdpInput : public SoundInput {
public:
    using SoundInput::SoundInput;
    ~UdpInput() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool start(const SoundDevice &d, QString *error)
    {
        const QHostAddress at = d.host.isLoopback() ? d.host : QHostAddress(QHostAddress::AnyIPv4);
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(d.port);
        addr.sin_addr.s_addr = htonl(at.toIPv4Address());
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
            *error = QStringLiteral("udp:%1:%2: %3").arg(d.host.toString()).arg(d.port).arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { readNow(); });
        m_notifier->setEnabled(!m_paced);
        return true;
    }

protected:
    void listen(bool on) override
    {
        if (m_notifier)
            m_notifier->setEnabled(on);
    }
    // Bounded, so a flood on the port cannot hold the thread.
    void readNow() override
    {
        if (m_bytes.empty()) {
            m_bytes.resize(kMaxDatagram);
            m_samples.resize(kMaxDatagram / 2);
        }
        for (int round = 0; m_fd >= 0 && round < 4 * kRoundsPerWakeUp; ++round) {
            const ssize_t n = ::recv(m_fd, m_bytes.data(), m_bytes.size(), 0);
            if (n < 0)
                return;
            if (n % 2)
                ++m_overruns;
            const int count = int(n / 2);
            for (int i = 0; i < count; ++i)
                m_samples[size_t(i)] = qFromLittleEndian<qint16>(m_bytes.data() + 2 * i);
            deliver(m_samples.data(), count);
        }
    }

private:
    static constexpr size_t kMaxDatagram = 65536;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::vector<char> m_bytes;
    std::vector<qint16> m_samples;
};

class UdpOutput : public SoundOutput {
public:
    UdpOutput(const SoundDevice &d, Source source, QObject *parent)
        : SoundOutput(std::move(source), parent), m_to(d.host), m_port(d.port)
    {
        m_resting = true;
    }

    void wake() override
    {
        m_resting = false;
        m_idleFrames = 0;
    }

    // One frame a tick: the owner's clock paces the stream.
    void pump() override
    {
        if (m_resting)
            return;
        qint16 frame[kFrameSamples];
        if (!pullFrame(frame)) {
            m_resting = m_idleFrames >= kRestFrames;
            return;
        }
        char bytes[kFrameSamples * 2];
        for (int i = 0; i < kFrameSamples; ++i)
            qToLittleEndian<qint16>(frame[i], bytes + 2 * i);
        m_socket.writeDatagram(bytes, sizeof bytes, m_to, m_port);
    }

private:
    QUdpSocket m_socket;
    QHostAddress m_to;
    quint16 m_port;
};

} // namespace

std::optional<SoundDevice> SoundDevice::parse(const QString &text)
{
    SoundDevice d;
    if (text.startsWith(QLatin1String("alsa:"))) {
        d.kind = Alsa;
        d.alsaName = text.mid(5);
        if (d.alsaName.isEmpty() || d.alsaName.contains(QLatin1Char(' ')))
            return std::nullopt;
        return d;
    }
    static const QRegularExpression udp(QStringLiteral("^udp:([0-9.]+):([0-9]{1,5})$"));
    const QRegularExpressionMatch m = udp.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    d.kind = Udp;
    d.host = QHostAddress(m.captured(1));
    const int port = m.captured(2).toInt();
    if (d.host.protocol() != QHostAddress::IPv4Protocol || port < 1 || port > 65535)
        return std::nullopt;
    d.port = quint16(port);
    return d;
}

void SoundInput::setPaced(bool paced)
{
    if (paced == m_paced)
        return;
    m_paced = paced;
    listen(!paced);
    // What came meanwhile is not left waiting for the next datagram.
    if (!paced)
        readNow();
}

void SoundInput::deliver(const qint16 *samples, int count)
{
    while (count > 0) {
        const int take = std::min(count, kFrameSamples - m_fill);
        std::memcpy(m_frame + m_fill, samples, size_t(take) * sizeof(qint16));
        m_fill += take;
        samples += take;
        count -= take;
        if (m_fill == kFrameSamples) {
            m_fill = 0;
            emit frame(m_frame);
        }
    }
}

std::unique_ptr<SoundInput> SoundInput::open(const QString &device, QString *error, QObject *parent)
{
    const std::optional<SoundDevice> d = SoundDevice::parse(device);
    if (!d) {
        *error = QStringLiteral("\"%1\" is neither alsa:DEVICE nor udp:ADDRESS:PORT").arg(device.left(60));
        return nullptr;
    }
    if (d->kind == SoundDevice::Alsa) {
        auto in = std::make_unique<AlsaInput>(d->alsaName, parent);
        return in->start(error) ? std::move(in) : nullptr;
    }
    auto in = std::make_unique<UdpInput>(parent);
    return in->start(*d, error) ? std::move(in) : nullptr;
}

bool SoundOutput::pullFrame(qint16 *samples)
{
    if (m_source && m_source(samples)) {
        m_idleFrames = 0;
        return true;
    }
    std::memset(samples, 0, kFrameSamples * sizeof(qint16));
    ++m_idleFrames;
    return false;
}

std::unique_ptr<SoundOutput> SoundOutput::open(const QString &device, Source source, QString *error, QObject *parent)
{
    const std::optional<SoundDevice> d = SoundDevice::parse(device);
    if (!d) {
        *error = QStringLiteral("\"%1\" is neither alsa:DEVICE nor udp:ADDRESS:PORT").arg(device.left(60));
        return nullptr;
    }
    if (d->kind == SoundDevice::Alsa) {
        auto out = std::make_unique<AlsaOutput>(d->alsaName, std::move(source), parent);
        return out->start(error) ? std::move(out) : nullptr;
    }
    return std::make_unique<UdpOutput>(*d, std::move(source), parent);
}

} // namespace mirelva::echolink
