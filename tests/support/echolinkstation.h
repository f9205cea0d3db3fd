#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QString>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <functional>

namespace mirelva::test {

// An EchoLink station as far as connecting, chatting and being dropped go,
// speaking the EchoLink UDP protocol to a node: RTCP SDES and BYE on the
// control port, chat on the audio port. EchoLink's RTP and RTCP carry
// version 3 in their first byte (0xC0).
class EchoLinkStation {
public:
    explicit EchoLinkStation(QHostAddress self = QHostAddress(QStringLiteral("127.0.0.2")),
                             QHostAddress node = QHostAddress(QStringLiteral("127.0.0.1")))
        : m_self(std::move(self)), m_node(std::move(node))
    {
    }
    // Binds the station's ports (0 and 0: any free ones, for a station that
    // only sends while the real one at its address holds 5198/5199).
    bool bind(QString *why, quint16 audioPort = 5198, quint16 ctrlPort = 5199)
    {
        if (!ctrl.bind(m_self, ctrlPort) || !audio.bind(m_self, audioPort)) {
            *why = QStringLiteral("cannot bind %1:%2/%3 (%4%5)")
                       .arg(m_self.toString())
                       .arg(audioPort)
                       .arg(ctrlPort)
                       .arg(ctrl.errorString(), audio.errorString());
            return false;
        }
        QObject::connect(&ctrl, &QUdpSocket::readyRead, [this] {
            while (ctrl.hasPendingDatagrams()) {
                const QByteArray d = ctrl.receiveDatagram().data();
                // RR, then SDES (202) or BYE (203).
                if (d.size() >= 10 && quint8(d[9]) == 203)
                    byeReceived = true;
                else if (d.size() >= 10 && quint8(d[9]) == 202)
                    ++sdesReceived;
            }
        });
        QObject::connect(&audio, &QUdpSocket::readyRead, [this] {
            while (audio.hasPendingDatagrams()) {
                const QByteArray d = audio.receiveDatagram().data();
                if (d.size() >= 12 && quint8(d[0]) == 0xC0) {
                    ++audioPackets;
                    if (d.size() >= 144)
                        gsmReceived << d.mid(12, 132);
                    if (onAudio)
                        onAudio(d);
                } else if (d.size() > 7 && d.mid(1, 5) == "NDATA" && d.contains('\0')) {
                    // Info: CR, text, NUL; chat: CALL>text CR LF NUL. CR reads as LF.
                    const QByteArray text = d.mid(6, d.indexOf('\0') - 6);
                    if (text.startsWith('\r')) {
                        infos << QString::fromUtf8(text.mid(1)).replace('\r', '\n');
                    } else {
                        chats << QString::fromUtf8(text).trimmed();
                        chatBytes << text.trimmed();
                    }
                }
            }
        });
        return true;
    }
    // The connect: an RTCP receiver report followed by the station's SDES.
    void connectToNode(const QByteArray &call, const QByteArray &name)
    {
        QByteArray rr("\xC0\xC9\x00\x01\x00\x00\x00\x00", 8);
        QByteArray items;
        auto item = [&items](char type, const QByteArray &text) {
            items += type;
            items += char(text.size());
            items += text;
        };
        item(1, "CALLSIGN");
        item(2, call.leftJustified(15, ' ') + name);
        item(3, "CALLSIGN");
        item(4, "08:30");
        items += '\0';
        QByteArray body = QByteArray(4, '\0') + items;   // SSRC, items
        while (body.size() % 4)
            body += '\0';
        QByteArray sdes("\xC1\xCA", 2);
        char len[2];
        qToBigEndian<quint16>(quint16((body.size() + 4) / 4 - 1), len);
        sdes += QByteArray(len, 2) + body;
        m_sdes = rr + sdes;
        ctrl.writeDatagram(m_sdes, m_node, 5199);
    }
    // The SDES again every 10 s, as a station keeps its QSO alive (a node
    // drops a station it has not heard from for 50 s).
    void keepAlive()
    {
        QObject::connect(&m_keepAlive, &QTimer::timeout, [this] { ctrl.writeDatagram(m_sdes, m_node, 5199); });
        m_keepAlive.start(10000);
    }
    // Leaving: a receiver report and a BYE.
    void leave()
    {
        m_keepAlive.stop();
        ctrl.writeDatagram(QByteArray::fromHex("c0c9000100000000c1cb000300000000") + "\x07jan2002", m_node, 5199);
    }
    void chat(const QByteArray &text) { audio.writeDatagram("oNDATA" + text + "\r\n" + QByteArray(1, '\0'), m_node, 5198); }
    // One RTP audio packet as EchoLink carries it: payload type 3 (GSM),
    // four 33-byte GSM frames (80 ms).
    void sendGsm(const QByteArray &frames)
    {
        QByteArray p(12, '\0');
        p[0] = char(0xC0);
        p[1] = 3;
        qToBigEndian<quint16>(m_seq++, p.data() + 2);
        qToBigEndian<quint32>(m_time += 640, p.data() + 4);
        audio.writeDatagram(p + frames, m_node, 5198);
    }

    // The same with a sequence number of the caller's (packets sent out of
    // order, or some never sent).
    void sendGsm(const QByteArray &frames, quint16 seq)
    {
        m_time += quint32(qint16(quint16(seq - m_seq))) * 640;
        m_seq = seq;
        sendGsm(frames);
    }

    QUdpSocket ctrl, audio;
    int sdesReceived = 0;
    qint64 audioPackets = 0;   // RTP audio from the node
    QByteArrayList gsmReceived;   // their four GSM frames, in order of arrival
    std::function<void(const QByteArray &)> onAudio;   // each of them, whole
    QStringList infos, chats;     // texts from the node, line ends as LF
    QByteArrayList chatBytes;     // the chats as they came, CR LF cut
    bool byeReceived = false;

private:
    QHostAddress m_self, m_node;
    quint16 m_seq = 0;
    quint32 m_time = 0;
    QByteArray m_sdes;
    QTimer m_keepAlive;
};

} // namespace mirelva::test
