#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QString>
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
                const QNetworkDatagram d = audio.receiveDatagram();
                if (d.data().size() >= 12 && quint8(d.data()[0]) == 0xC0) {
                    ++audioPackets;
                    if (onAudio)
                        onAudio(d.data());
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
        ctrl.writeDatagram(rr + sdes, m_node, 5199);
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

    QUdpSocket ctrl, audio;
    int sdesReceived = 0;
    qint64 audioPackets = 0;   // RTP audio from the node
    std::function<void(const QByteArray &)> onAudio;   // each of them, whole
    bool byeReceived = false;

private:
    QHostAddress m_self, m_node;
    quint16 m_seq = 0;
    quint32 m_time = 0;
};

} // namespace mirelva::test
