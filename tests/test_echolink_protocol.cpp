// EchoLink's protocol in the node's own code, without sockets: what the
// packet readers take and refuse, what the builders make, the directory's
// list and the client's commands, the proxy's stream, a QSO's timers, and
// who the directory check lets in. Time is the test's own clock.

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "node/echolink/protocol/callercheck.h"
#include "node/echolink/protocol/directory.h"
#include "node/echolink/protocol/dispatcher.h"
#include "node/echolink/protocol/packets.h"
#include "node/echolink/protocol/proxy.h"
#include "node/echolink/protocol/transport.h"
#include "node/echolink/protocol/qso.h"

using namespace mirelva::echolink;

namespace {

QByteArray hex(const char *h) { return QByteArray::fromHex(h); }

// A directory connection the test answers.
class FakeLink : public TcpLink {
public:
    void open(const QHostAddress &a, quint16 port) override
    {
        m_open = true;
        ++m_connection;
        log << QStringLiteral("open %1:%2").arg(a.toString()).arg(port);
    }
    void send(const QByteArray &b) override { log << "send " + QString::fromLatin1(b.toHex(' ')); }
    // As a socket's: no closed() for a close of our own.
    void close() override { m_open = false; }
    void answer(const QByteArray &reply)
    {
        const int connection = m_connection;
        emit received(reply);
        // The far end closes this connection, not one opened since.
        if (m_connection == connection && std::exchange(m_open, false))
            emit closed(QString());
    }
    void fail(const QString &why)
    {
        m_open = false;
        emit closed(why);
    }
    QStringList log;

private:
    bool m_open = false;
    int m_connection = 0;
};

QByteArray listReply(const QList<QStringList> &entries)
{
    QByteArray b = "@@@\n" + QByteArray::number(entries.size()) + "\n";
    for (const QStringList &e : entries)
        b += e.join('\n').toLatin1() + '\n';
    return b + "+++";
}

QString sent(const QByteArray &b) { return "send " + QString::fromLatin1(b.toHex(' ')); }

} // namespace

class TestEchoLinkProtocol : public QObject {
    Q_OBJECT

private slots:
    // The builders give exactly what EchoLink's own software sends.
    void buildersMakeEchoLinksBytes()
    {
        QCOMPARE(buildSdes("N0CALL-L", "Test Op").toHex(' '),
                 ("c0 c9 00 01 00 00 00 00 c1 ca 00 0f 00 00 00 00 01 08 " + QByteArray("CALLSIGN").toHex(' ') + " 02 16 " +
                  QByteArray("N0CALL-L       Test Op").toHex(' ') + " 03 08 " + QByteArray("CALLSIGN").toHex(' ') +
                  " 04 05 " + QByteArray("08:30").toHex(' ') + " 00 00 00 00 00"));
        QCOMPARE(buildSdes("N0CALL-L", "Test Op").size(), 72);
        QCOMPARE(buildBye(), hex("c0c9000100000000c1cb000300000000") + "\x07jan2002");
        QCOMPARE(buildInfo("W1AW-L\nNewington"), QByteArray("oNDATA\rW1AW-L\rNewington\0", 24));
        QCOMPARE(buildChat("W1AW-L", "Hello"), QByteArray("oNDATAW1AW-L>Hello\r\n\0", 21));
        // The node's own texts in Windows-1252, what it cannot write as "?".
        QCOMPARE(buildChat("W1AW-L", QString::fromUtf8("Grüße “hi” € 日本")),
                 QByteArray("oNDATAW1AW-L>Gr\xfc\xdf" "e \x93hi\x94 \x80 ??\r\n\0", 31));
        QCOMPARE(buildInfo(QString::fromUtf8("Zoë\nŠ")), QByteArray("oNDATA\rZo\xeb\r\x8a\0", 13));
        const QByteArray gsm(kGsmPayloadBytes, 'g');
        QCOMPARE(buildAudio(0x1234, gsm), hex("c0031234") + QByteArray(8, '\0') + gsm);
        QVERIFY(buildAudio(1, gsm.left(100)).isEmpty());
        // A name too long for its item is cut, never the packet's lengths.
        const QByteArray big = buildSdes("K1ABC", QString(400, QChar(0x00E9)));
        QCOMPARE(big.size() % 4, 0);
        QCOMPARE(parseControl(big.constData(), big.size())->callsign, QStringLiteral("K1ABC"));
    }

    void controlPackets_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("read");   // "SDES call|name|priv", "BYE", or the refusal
        const QByteArray rr = hex("c0c9000100000000");
        QTest::newRow("SDES") << buildSdes("N0CALL-L", "Test Op") << "SDES N0CALL-L|Test Op|";
        QTest::newRow("SDES with PRIV") << hex("c0c9000100000000c1ca000600000000") + "\x02\x0bK1ABC  Jo B\x08\x05SPEEX\0\0\0\0\0\0"
                                        << "SDES K1ABC|Jo B|SPEEX";
        QTest::newRow("BYE") << buildBye() << "BYE";
        QTest::newRow("the crash packet") << hex("c0c9000100000000c0caffff00000000")
                                          << "control subpacket longer than the packet";
        QTest::newRow("no report first") << buildSdes("K1ABC", "x").mid(8) << "control packet not starting with a report";
        QTest::newRow("short") << hex("c0c90001") << "control packet shorter than its report";
        QTest::newRow("report alone") << rr << "control packet with neither SDES nor BYE";
        QTest::newRow("SDES of no source") << rr + hex("c0ca000100000000") << "control packet with neither SDES nor BYE";
        QTest::newRow("item past its subpacket") << rr + hex("c1ca00020000000002ff4b31") << "SDES item longer than its subpacket";
        QTest::newRow("cut off") << buildSdes("K1ABC", "x").left(30) << "control subpacket longer than the packet";
        // Fits the datagram from its start, not from where it begins.
        QTest::newRow("second subpacket past the end") << rr + hex("c1ca00030000000002024b31")
                                                       << "control subpacket longer than the packet";
        // A name is one line of the roster: cut at a line break, control
        // characters and direction marks made "?".
        const QByteArray sdes = rr + hex("c1ca000700000000") + QByteArray("\x02\x14K1ABC Jo\rFAKE LOG: W\0\0", 24);
        QTest::newRow("name with a line break") << sdes << "SDES K1ABC|Jo|";
        QTest::newRow("name with an escape and a mark") << rr + hex("c1ca000600000000") + QByteArray("\x02\x0fK1ABC J\x1b[1m\xe2\x80\xaeo\0\0\0", 20)
                                                        << "SDES K1ABC|J?[1m?o|";
    }
    void controlPackets()
    {
        QFETCH(QByteArray, packet);
        QFETCH(QString, read);
        const char *why = nullptr;
        const std::optional<ControlPacket> p = parseControl(packet.constData(), packet.size(), &why);
        const QString got = !p ? QString::fromLatin1(why)
                          : p->kind == ControlPacket::Bye
                              ? QStringLiteral("BYE")
                              : QStringLiteral("SDES %1|%2|%3").arg(p->callsign, p->name, QString::fromLatin1(p->priv));
        QCOMPARE(got, read);
    }

    void audioPortPackets_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("read");   // "audio SEQ", "info TEXT", "chat TEXT", or the refusal
        const QByteArray gsm(kGsmPayloadBytes, 'g');
        QTest::newRow("GSM") << buildAudio(65535, gsm) << "audio 65535";
        QTest::newRow("GSM with more after it") << buildAudio(7, gsm) + "xx" << "audio 7";
        QTest::newRow("GSM short") << buildAudio(7, gsm).left(143) << "GSM audio shorter than four frames";
        QTest::newRow("header cut") << hex("c00300") << "audio shorter than its header";
        QTest::newRow("Speex") << hex("c0960001") + QByteArray(60, 's') << "Speex audio, which was not offered";
        QTest::newRow("info") << buildInfo("A\nB") << "info A\nB";
        QTest::newRow("chat") << buildChat("K1ABC", "hi") << "chat K1ABC>hi\n\n";
        QTest::newRow("chat, bytes after the NUL") << QByteArray("xNDATAK1ABC>yo\r\n\0\1\2\3\4", 21) << "chat K1ABC>yo\n\n";
        QTest::newRow("Latin-1 chat") << QByteArray("oNDATAK1ABC>caf\xe9\r\n\0", 19) << QString("chat K1ABC>caf\u00e9\n\n");
        QTest::newRow("Windows-1252 chat") << QByteArray("oNDATAK1ABC>\x93" "5\x80\x94\r\n\0", 19)
                                           << QString::fromUtf8("chat K1ABC>“5€”\n\n");
        QTest::newRow("UTF-8 chat") << QByteArray("oNDATAK1ABC>Gr\xc3\xbc\xc3\x9f" "e\r\n\0", 23) << QString::fromUtf8("chat K1ABC>Grüße\n\n");
        // A byte Windows-1252 leaves undefined is kept too.
        QTest::newRow("undefined byte") << QByteArray("oNDATAK1ABC>a\x81\xff\r\n\0", 18) << QString("chat K1ABC>a\uf781\u00ff\n\n");
        QTest::newRow("text without NUL") << QByteArray("oNDATA\rno end") << "a text without its terminating NUL";
        QTest::newRow("junk") << QByteArray("\x01\x02\x03") << "neither audio nor a text";
        QTest::newRow("empty") << QByteArray() << "neither audio nor a text";
    }
    void audioPortPackets()
    {
        QFETCH(QByteArray, packet);
        QFETCH(QString, read);
        const char *why = nullptr;
        const AudioPortPacket p = parseAudioPort(packet.constData(), packet.size(), &why);
        QString got = QString::fromLatin1(why);
        if (p.audio) {
            got = QStringLiteral("audio %1").arg(p.audio->sequence);
            QCOMPARE(p.audio->gsm, QByteArray(kGsmPayloadBytes, 'g'));
        } else if (p.text) {
            got = (p.text->kind == TextPacket::Info ? "info " : "chat ") + p.text->text;
            // Passed on, a text is the bytes it came as.
            QByteArray sent = packet.mid(6, packet.indexOf('\0', 6) - 6).replace('\r', '\n');
            if (p.text->kind == TextPacket::Info)
                sent.remove(0, 1);
            QCOMPARE(toEightBit(p.text->octets), sent);
            // Its first bytes alone, the rest still there behind them: no text.
            for (qsizetype cut = 0; cut < 6; ++cut) {
                const char *short_ = nullptr;
                QVERIFY(!parseText(packet.constData(), cut, &short_));
                QCOMPARE(QByteArray(short_), "neither audio nor a text");
            }
        }
        QCOMPARE(got, read);
    }

    void callsigns_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("link, lower case") << " k1abc-l " << "K1ABC-L";
        QTest::newRow("repeater") << "W1AW-R" << "W1AW-R";
        QTest::newRow("user") << "VK2XYZ" << "VK2XYZ";
        QTest::newRow("portable") << "VK2XYZ/P" << "VK2XYZ/P";
        QTest::newRow("conference") << "*echotest*" << "*ECHOTEST*";
        QTest::newRow("trailing dot") << "K1ABC-L." << "";
        QTest::newRow("other suffix") << "K1ABC-X" << "";
        QTest::newRow("no digit") << "ABCDEF" << "";
        QTest::newRow("binary") << QString::fromLatin1("\x01\xff\x7f" "K1") << "";
        QTest::newRow("control character") << "K1ABC\x1b" << "";
        QTest::newRow("too long") << "K1ABCDEFGHIJ-L" << "";
        QTest::newRow("empty") << "" << "";
    }
    void callsigns()
    {
        QFETCH(QString, raw);
        QFETCH(QString, canonical);
        QCOMPARE(canonicalCallsign(raw), canonical);
    }

    void stationList_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("read");   // stations "CALL|DESC|STATUS|TIME|NODE|IP;", skipped, message; or the refusal
        const QString ok = "W1AW-L|Newington, CT|1|12:34|123456|10.0.0.1;*ECHOTEST*|Conference|2|01:02|9999|10.0.0.2; skipped 0; ";
        const QByteArray w1aw = "W1AW-L\nNewington, CT    [ON 12:34]\n123456\n10.0.0.1\n";
        const QByteArray conf = "*ECHOTEST*\nConference [BUSY 01:02]\n9999\n10.0.0.2\n";
        QTest::newRow("two stations") << "@@@\n2\n" + w1aw + conf + "+++" << ok;
        QTest::newRow("CR LF line ends") << QByteArray("@@@\r\n2\r\n" + w1aw + conf + "+++").replace("0.1\n", "0.1\r\n") << ok;
        QTest::newRow("dot entry not counted, message") << "@@@\n3\n.\nx\n0\n0.0.0.0\n \nWelcome\n0\n0.0.0.0\n" + w1aw + conf + "+++"
                                                        << ok + "Welcome";
        // A description of 60 characters before "[" (19.09 overflowed at 45).
        QTest::newRow("long description") << "@@@\n1\nK1ABC\n" + QByteArray(60, 'd') + " [ON 00:00]\n5\n1.2.3.4\n+++"
                                          << "K1ABC|" + QString(60, 'd') + "|1|00:00|5|1.2.3.4; skipped 0; ";
        QTest::newRow("line too long") << "@@@\n2\nK1ABC\n" + QByteArray(300, 'd') + " [ON 00:00]\n5\n1.2.3.4\n" + conf + "+++"
                                       << "*ECHOTEST*|Conference|2|01:02|9999|10.0.0.2; skipped 1; ";
        QTest::newRow("escape in a description") << QByteArray("@@@\n1\nK1ABC\nd\x1b[2J [ON 00:00]\n5\n1.2.3.4\n+++")
                                                 << "K1ABC|d?[2J|1|00:00|5|1.2.3.4; skipped 0; ";
        QTest::newRow("bad address and number") << "@@@\n3\nA1A\nd [ON 00:00]\n5\n1.2.3\nB1B\nd\nx5\n1.2.3.4\n" + conf + "+++"
                                                << "*ECHOTEST*|Conference|2|01:02|9999|10.0.0.2; skipped 2; ";
        QTest::newRow("no end mark") << "@@@\n1\n" + w1aw << "station list ended before +++";
        QTest::newRow("cut inside an entry") << QByteArray("@@@\n1\nW1AW-L\nNewington") << "station list ended inside an entry";
        QTest::newRow("no header") << QByteArray("INCORRECT PASSWORD") << "station list without its @@@ header";
        QTest::newRow("huge count") << QByteArray("@@@\n99999999\n+++") << "station list without a count";
        QTest::newRow("count at the bound") << QByteArray("@@@\n100000\n+++") << " skipped 0; ";
        QTest::newRow("count past the bound") << QByteArray("@@@\n100001\n+++") << "station list without a count";
    }
    void stationList()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, read);
        const char *why = nullptr;
        const std::optional<StationList> l = parseStationList(reply.constData(), reply.size(), &why);
        QString got = QString::fromLatin1(why);
        if (l) {
            got.clear();
            for (const StationEntry &e : l->stations)
                got += QStringLiteral("%1|%2|%3|%4|%5|%6;").arg(e.callsign, e.description).arg(int(e.status)).arg(e.time).arg(e.node).arg(e.address.toString());
            got += QStringLiteral(" skipped %1; %2").arg(l->skipped).arg(l->message);
        }
        QCOMPARE(got, read);
    }

    void loginCommand_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray head = "lN0CALL-L\xAC\xACpw\r";
        QTest::newRow("online") << int(DirectoryStatus::Online) << head + "ONLINE3.38(09:05)\rA town with a very long nam\r";
        QTest::newRow("busy") << int(DirectoryStatus::Busy) << head + "BUSY3.40(09:05)\rA town with a very long nam\r";
        QTest::newRow("off") << int(DirectoryStatus::Offline) << head + "OFF-V3.40\rA town with a very long nam\r";
    }
    void loginCommand()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, bytes);
        QCOMPARE(buildLogin("n0call-l", "pw", DirectoryStatus(status), "A town with a very long name, FN42", QTime(9, 5)), bytes);
    }

    // Logins and lists, one connection each, the servers in turn: a server
    // that fails passes the command to the next; the list is looked up by
    // callsign and node number.
    void directoryClient()
    {
        FakeLink link;
        Directory dir({{"127.0.0.1", "127.0.0.2"}, "N0CALL-L", "pw", "Here"}, &link);
        QStringList said;
        connect(&dir, &Directory::error, this, [&said](const QString &w) { said << "error " + w; });
        connect(&dir, &Directory::statusChanged, this, [&said](DirectoryStatus s) { said << "status " + statusName(s); });
        connect(&dir, &Directory::listUpdated, this, [&said] { said << "list"; });

        dir.makeOnline();
        QTRY_COMPARE(link.log.size(), 2);
        const QString login = sent(buildLogin("N0CALL-L", "pw", DirectoryStatus::Online, "Here", QTime::currentTime()));
        QCOMPARE(link.log, (QStringList{"open 127.0.0.1:5200", login}));
        link.fail("Connection refused");
        QCOMPARE(said, QStringList{"error directory server 127.0.0.1: Connection refused; trying the next"});
        QCOMPARE(link.log.mid(2), (QStringList{"open 127.0.0.2:5200", login}));
        link.answer("OK");
        QCOMPARE(said.last(), "status ON");
        QCOMPARE(dir.status(), DirectoryStatus::Online);

        // A list already asked for may be too old for a new question: one
        // more waits behind it, and only one.
        const int first = dir.refreshList();
        const int second = dir.refreshList();
        QCOMPARE(second, first + 1);
        QCOMPARE(dir.refreshList(), second);
        QCOMPARE(link.log.mid(4), (QStringList{"open 127.0.0.2:5200", "send 73"}));
        link.answer(listReply({}));
        QCOMPARE(dir.listsEnded(), first);
        QCOMPARE(link.log.mid(6), (QStringList{"open 127.0.0.2:5200", "send 73"}));
        link.answer(listReply({{"W1AW-L", "Newington [ON 12:00]", "123", "10.1.1.1"}}));
        QCOMPARE(said.last(), "list");
        QCOMPARE(dir.listsEnded(), second);
        QCOMPARE(dir.findCall("W1AW-L")->address, QHostAddress("10.1.1.1"));
        QCOMPARE(dir.findNode(123)->callsign, "W1AW-L");
        QVERIFY(!dir.findCall("w1aw-l"));

        // A refused login says the directory's words; the status is unknown.
        dir.makeBusy();
        QCOMPARE(link.log.mid(8, 1), QStringList{"open 127.0.0.2:5200"});
        link.answer("INCORRECT PASSWORD\r\n");
        QCOMPARE(said.last(), "error the directory refused the login: INCORRECT PASSWORD");
        QCOMPARE(dir.status(), DirectoryStatus::Unknown);
        // Offline: no more re-logins.
        dir.makeOffline();
        link.answer("OK");
        QCOMPARE(said.last(), "status OFF");
        const qsizetype before = link.log.size();
        dir.refreshRegistration();
        QCOMPARE(link.log.size(), before);
    }

    // A reply in pieces: its end mark looked for in the new bytes only, so
    // the work is the reply's length however it is cut; a reply past the
    // limit is refused whatever its pieces.
    void directoryReplyInPieces_data()
    {
        QTest::addColumn<int>("stations");
        QTest::addColumn<int>("piece");
        QTest::addColumn<QString>("result");
        QTest::newRow("one piece") << 20000 << 0 << "list 20000";
        QTest::newRow("dripped") << 20000 << 1400 << "list 20000";
        QTest::newRow("a byte at a time") << 300 << 1 << "list 300";
        QTest::newRow("too long, in pieces") << -1 << 1024 * 1024
                                             << "directory server 127.0.0.1: an answer longer than 8388608 bytes";
    }
    void directoryReplyInPieces()
    {
        QFETCH(int, stations);
        QFETCH(int, piece);
        QFETCH(QString, result);
        FakeLink link;
        Directory dir({{"127.0.0.1"}, "N0CALL-L", "pw", ""}, &link);
        QString got;
        connect(&dir, &Directory::listUpdated, this, [&] { got = QStringLiteral("list %1").arg(dir.stations().stations.size()); });
        connect(&dir, &Directory::listFailed, this, [&got](const QString &why) { got = why; });
        dir.refreshList();
        QTRY_COMPARE(link.log.size(), 2);
        QList<QStringList> entries;
        for (int i = 0; i < stations; ++i)
            entries << QStringList{QStringLiteral("K%1AB").arg(i), "x [ON 00:00]", QString::number(i + 1), "10.1.1.1"};
        const QByteArray reply = stations < 0 ? "@@@\n1\n" + QByteArray(kMaxDirectoryReply, 'x') : listReply(entries);
        const qsizetype step = piece > 0 ? piece : reply.size();
        for (qsizetype at = 0; at < reply.size() && got.isEmpty(); at += step)
            emit link.received(reply.mid(at, step));
        QCOMPARE(got, result);
        if (stations >= 0)
            QVERIFY2(dir.replyBytesSearched() <= reply.size() + 3 * (reply.size() / step + 1), qPrintable(QString::number(dir.replyBytesSearched())));
        if (stations > 0)
            QCOMPARE(dir.findCall(QStringLiteral("K%1AB").arg(stations - 1))->node, stations);
    }

    void proxyStream()
    {
        // MD5 of the upper-case password and the nonce.
        QCOMPARE(proxyLogin("n0call-l", "secret", "ABCDEFGH"),
                 "N0CALL-L\n" + QCryptographicHash::hash("SECRETABCDEFGH", QCryptographicHash::Md5));
        QCOMPARE(proxyLogin("N0CALL-L", "", "ABCDEFGH").mid(9),
                 QCryptographicHash::hash("PUBLICABCDEFGH", QCryptographicHash::Md5));
        const QByteArray udp = buildProxyFrame(ProxyFrame::UdpControl, 0x0A000001, buildBye());
        QCOMPARE(udp.left(9), hex("060a00000118000000"));
        // Frames cut anywhere come out whole.
        const QByteArray stream = udp + buildProxyFrame(ProxyFrame::TcpStatus, 0, QByteArray(4, '\0'));
        ProxyReader r;
        QList<ProxyFrame> frames;
        for (char c : stream) {
            QVERIFY(r.feed(&c, 1));
            while (std::optional<ProxyFrame> f = r.next())
                frames << *f;
        }
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames[0].payload, buildBye());
        QCOMPARE(QHostAddress(frames[0].address), QHostAddress("10.0.0.1"));
        QCOMPARE(frames[1].type, ProxyFrame::TcpStatus);

        const QList<QPair<QByteArray, QByteArray>> broken = {
            {hex("050a000001") + hex("00000080"), "a proxy message longer than any it sends"},
            {hex("090a000001") + hex("00000000"), "a proxy message of an unknown type"},
            {hex("040a000001") + hex("02000000") + "ab", "a proxy message of the wrong size for its type"},
        };
        for (const auto &[bytes, why] : broken) {
            ProxyReader b;
            b.feed(bytes.constData(), bytes.size());
            QVERIFY(!b.next());
            QCOMPARE(QByteArray(b.why()), why);
            QVERIFY(!b.feed("x", 1));
        }
    }

    // Through a proxy (a stand-in on loopback): the log-in answers its
    // nonce, a station's datagram comes out of the tunnel as a caller, the
    // node's answer goes back in it, and the directory's login runs through
    // the tunnelled TCP connection.
    void proxyCarriesDatagramsAndTheDirectory()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket *peer = nullptr;
        QByteArray fromNode;
        int connections = 0;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            ++connections;
            peer = server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [&] { fromNode += peer->readAll(); });
            peer->write("n0Nc3x7Z");
        });
        Proxy proxy("127.0.0.1", server.serverPort(), "N0CALL-L", "secret");
        QStringList ready;
        connect(&proxy, &Proxy::readyChanged, this, [&ready](bool on, const QString &why) { ready << (on ? "ready" : why); });
        Dispatcher d({QHostAddress::LocalHost, 5198}, [] { return qint64(0); });
        d.useProxy(&proxy);
        QList<QHostAddress> callers;
        connect(&d, &Dispatcher::incomingConnection, this, [&](const QHostAddress &from, const ControlPacket &p) {
            callers << from;
            QCOMPARE(p.callsign, QStringLiteral("K1ABC"));
            d.createQso(from, {"N0CALL-L", "Home", ""})->accept(0);
        });
        proxy.start();
        const QByteArray login = proxyLogin("N0CALL-L", "secret", "n0Nc3x7Z");
        QTRY_COMPARE(fromNode, login);
        QCOMPARE(ready, QStringList{"ready"});

        peer->write(buildProxyFrame(ProxyFrame::UdpControl, 0x0A000009, buildSdes("K1ABC", "Jo")));
        QTRY_COMPARE(callers, QList<QHostAddress>{QHostAddress("10.0.0.9")});
        QTRY_COMPARE(fromNode.mid(login.size()), buildProxyFrame(ProxyFrame::UdpControl, 0x0A000009, buildSdes("N0CALL-L", "Home")));
        fromNode.clear();

        Directory dir({{"10.1.2.3"}, "N0CALL-L", "pw", "Here"}, proxy.tcpLink());
        dir.makeOnline();
        QTRY_COMPARE(fromNode, buildProxyFrame(ProxyFrame::TcpOpen, 0x0A010203));
        fromNode.clear();
        peer->write(buildProxyFrame(ProxyFrame::TcpStatus, 0x0A010203, QByteArray(4, '\0')));
        QTRY_COMPARE(fromNode, buildProxyFrame(ProxyFrame::TcpData, 0x0A010203,
                                               buildLogin("N0CALL-L", "pw", DirectoryStatus::Online, "Here", QTime::currentTime())));
        peer->write(buildProxyFrame(ProxyFrame::TcpData, 0x0A010203, "OK") + buildProxyFrame(ProxyFrame::TcpClose, 0x0A010203));
        QTRY_COMPARE(dir.status(), DirectoryStatus::Online);

        // A wrong password: the proxy says so and the client starts over.
        peer->write(buildProxyFrame(ProxyFrame::System, 0, QByteArray(1, '\1')));
        QTRY_COMPARE(ready.last(), QStringLiteral("the proxy refused the password (trying again in 10 s)"));
        // And it waits as it says: a proxy refusing is not asked again at once.
        QTest::qWait(200);
        QCOMPARE(connections, 1);
    }

    // The directory's connection leaves from BINDADDR when one is set, as
    // the node's datagrams do; from an address not this machine's it fails.
    void directoryConnectionLeavesFromBindAddr_data()
    {
        QTest::addColumn<QString>("bind");
        QTest::addColumn<QString>("seen");
        QTest::newRow("no address") << "" << "from 127.0.0.1";
        QTest::newRow("a second loopback address") << "127.0.0.2" << "from 127.0.0.2";
        QTest::newRow("not this machine's") << "192.0.2.77" << "";
    }
    void directoryConnectionLeavesFromBindAddr()
    {
        QFETCH(QString, bind);
        QFETCH(QString, seen);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::AnyIPv4));
        SocketTcpLink link(bind.isEmpty() ? QHostAddress() : QHostAddress(bind));
        QString got;
        connect(&server, &QTcpServer::newConnection, this,
                [&] { got = "from " + server.nextPendingConnection()->peerAddress().toString(); });
        connect(&link, &TcpLink::closed, this, [&got](const QString &why) { got = why; });
        link.open(QHostAddress::LocalHost, server.serverPort());
        QTRY_VERIFY(!got.isEmpty());
        // Refused, the link says why and nothing reaches the server.
        QVERIFY2(seen.isEmpty() ? !got.startsWith("from") : got == seen, qPrintable(got));
    }

    // A connect out: SDES at 0, 10, ..., 40 s, given up at 50 s; answered,
    // the QSO stands, the info text goes, keep-alives every 10 s and 50 s
    // without the station's SDES end it. A BYE ends it unanswered; ended, a
    // late SDES is answered with BYE.
    void qsoTimeline()
    {
        QStringList wire;
        auto record = [&wire](bool control, const QHostAddress &to, const QByteArray &b) {
            const std::optional<ControlPacket> c = control ? parseControl(b.constData(), b.size()) : std::nullopt;
            const AudioPortPacket a = control ? AudioPortPacket() : parseAudioPort(b.constData(), b.size());
            wire << to.toString() + (c ? (c->kind == ControlPacket::Bye ? " BYE" : " SDES")
                                     : a.text ? " text " + a.text->text.simplified() : " audio");
        };
        const QHostAddress far("10.0.0.9");
        Qso q(far, {"N0CALL-L", "Home", "Mirelva node"}, record);
        QStringList events;
        connect(&q, &Qso::stateChanged, this, [&events](Qso::State s) { events << QString::number(int(s)); });
        connect(&q, &Qso::receivingChanged, this, [&events](bool on) { events << (on ? "rx" : "rx off"); });
        connect(&q, &Qso::chatReceived, this, [&events](const QString &t) { events << "chat " + t; });
        connect(&q, &Qso::infoReceived, this, [&events](const QString &t) { events << "info " + t; });

        q.connectTo(0);
        for (qint64 t = 1000; t <= 49000; t += 1000)
            q.tick(t);
        QCOMPARE(wire.size(), 5);
        QCOMPARE(wire.filter("SDES").size(), 5);
        q.tick(50000);
        QCOMPARE(q.state(), Qso::State::Ended);
        QCOMPARE(q.endedBy(), Qso::End::NoAnswer);
        QCOMPARE(wire.size(), 5);   // no BYE

        wire.clear();
        events.clear();
        Qso r(far, {"N0CALL-L", "Home", "Mirelva node"}, record);
        connect(&r, &Qso::stateChanged, this, [&events](Qso::State s) { events << QString::number(int(s)); });
        connect(&r, &Qso::receivingChanged, this, [&events](bool on) { events << (on ? "rx" : "rx off"); });
        connect(&r, &Qso::chatReceived, this, [&events](const QString &t) { events << "chat " + t; });
        connect(&r, &Qso::infoReceived, this, [&events](const QString &t) { events << "info " + t; });
        r.connectTo(0);
        r.controlIn({ControlPacket::Sdes, "K1ABC", "Jo", {}}, 3000);
        QCOMPARE(wire, (QStringList{"10.0.0.9 SDES", "10.0.0.9 text Mirelva node"}));
        QCOMPARE(r.remoteName(), "Jo");
        r.textIn({TextPacket::Chat, "K1ABC>hello\n\n"}, 3000);
        r.textIn({TextPacket::Info, "K1ABC Jo"}, 3000);
        r.textIn({TextPacket::Info, "K1ABC Jo"}, 3000);   // repeated: not raised again
        r.audioIn({1, QByteArray(kGsmPayloadBytes, 'a')}, 4000);
        r.audioIn({2, QByteArray(kGsmPayloadBytes, 'a')}, 4080);
        r.tick(4080 + Qso::kMinReceiveHoldMs - 1);
        QVERIFY(r.isReceiving());
        r.tick(4400);
        QVERIFY(!r.isReceiving());
        // A burst of packets at once holds "receiving" no longer than the bound.
        for (quint16 seq = 3; seq < 40; ++seq)
            r.audioIn({seq, QByteArray(kGsmPayloadBytes, 'a')}, 4500);
        r.tick(4500 + Qso::kMaxReceiveHoldMs - 1);
        QVERIFY(r.isReceiving());
        r.tick(4500 + Qso::kMaxReceiveHoldMs);
        QVERIFY(!r.isReceiving());
        QCOMPARE(events, (QStringList{"1", "2", "chat K1ABC>hello", "info K1ABC Jo", "rx", "rx off", "rx", "rx off"}));
        // Keep-alives every 10 s from the answer (13, 23, 33, 43 s); the
        // station's last SDES came at 3 s, so the link is dead at 53 s.
        wire.clear();
        for (qint64 t = 5000; t < 53000; t += 1000)
            r.tick(t);
        QCOMPARE(wire, QStringList(4, "10.0.0.9 SDES"));
        QCOMPARE(r.state(), Qso::State::Connected);
        r.tick(53000);
        QCOMPARE(r.endedBy(), Qso::End::LinkDead);

        wire.clear();
        Qso s(far, {"N0CALL-L", "Home", ""}, record);
        s.accept(0);
        QVERIFY(s.sendChat("hi there"));
        QVERIFY(s.sendAudio(QByteArray(kGsmPayloadBytes, 'x')));
        QCOMPARE(s.nextSequence(), 1);
        s.controlIn({ControlPacket::Bye, {}, {}, {}}, 1000);
        QCOMPARE(s.endedBy(), Qso::End::ByeReceived);
        QVERIFY(!s.sendChat("gone"));
        s.controlIn({ControlPacket::Sdes, "K1ABC", "", {}}, 2000);
        QCOMPARE(wire, (QStringList{"10.0.0.9 SDES", "10.0.0.9 text N0CALL-L>hi there", "10.0.0.9 audio", "10.0.0.9 BYE"}));
    }

    // A QSO this node ended lingers kLingerMs, answering the station's
    // late packets; then the station calling again is a new caller. One the
    // station ended goes at once.
    void endedQsoLingers_data()
    {
        QTest::addColumn<bool>("endedByUs");
        QTest::addColumn<int>("after");
        QTest::addColumn<bool>("newCaller");
        QTest::newRow("ours, lingering") << true << int(Dispatcher::kLingerMs - 1) << false;
        QTest::newRow("ours, gone") << true << int(Dispatcher::kLingerMs) << true;
        QTest::newRow("theirs") << false << 0 << true;
    }
    void endedQsoLingers()
    {
        QFETCH(bool, endedByUs);
        QFETCH(int, after);
        QFETCH(bool, newCaller);
        qint64 now = 50000;
        Dispatcher d({QHostAddress::LocalHost, 5198}, [&now] { return now; });
        const QHostAddress far("127.0.0.9");
        int callers = 0;
        connect(&d, &Dispatcher::incomingConnection, this, [&callers] { ++callers; });
        Qso *q = d.createQso(far, {"N0CALL-L", "Home", ""});
        q->accept(now);
        if (endedByUs)
            q->end();
        else
            q->controlIn({ControlPacket::Bye, {}, {}, {}}, now);
        now += after;
        d.tick();
        const QByteArray sdes = buildSdes("K1ABC", "Jo");
        d.datagram(true, far, sdes.constData(), sdes.size());
        QCOMPARE(callers, newCaller ? 1 : 0);
    }

    // A caller passes when the directory lists its callsign at its address;
    // otherwise it waits for a list asked for after it called, and is let
    // in or refused by that list. ALLOWIP's ranges are not looked up.
    void callersAreCheckedAgainstTheDirectory_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("newList");   // the list that comes after the call: "CALL@IP" or ""
        QTest::addColumn<QString>("verdict");
        QTest::newRow("listed there") << "10.1.1.1" << "W1AW-L" << "" << "pass at once";
        QTest::newRow("allowed range") << "127.0.0.5" << "K9ZZZ" << "" << "pass at once";
        QTest::newRow("listed elsewhere") << "10.6.6.6" << "W1AW-L" << "W1AW-L@10.1.1.1"
                                          << "refused: the directory lists W1AW-L at 10.1.1.1, not at 10.6.6.6";
        QTest::newRow("not listed") << "10.2.2.2" << "K1NEW" << "W1AW-L@10.1.1.1" << "refused: K1NEW is not in the EchoLink directory";
        QTest::newRow("just logged in") << "10.2.2.2" << "K1NEW" << "K1NEW@10.2.2.2" << "pass";
        QTest::newRow("moved") << "10.3.3.3" << "W1AW-L" << "W1AW-L@10.3.3.3" << "pass";
        // No list to be had: refused, never let in unseen.
        QTest::newRow("directory unreachable") << "10.2.2.2" << "K1NEW" << "fail"
                                               << "refused: the directory could not be asked about K1NEW (directory server 127.0.0.1: Connection refused)";
    }
    void callersAreCheckedAgainstTheDirectory()
    {
        QFETCH(QString, from);
        QFETCH(QString, call);
        QFETCH(QString, newList);
        QFETCH(QString, verdict);
        FakeLink link;
        Directory dir({{"127.0.0.1"}, "N0CALL-L", "pw", ""}, &link);
        dir.refreshList();
        QTRY_COMPARE(link.log.size(), 2);
        link.answer(listReply({{"W1AW-L", "x [ON 00:00]", "1", "10.1.1.1"}}));
        link.log.clear();
        qint64 now = 100000;
        CallerCheck check(&dir, {QHostAddress::parseSubnet("127.0.0.0/8")}, [&now] { return now; });
        QStringList decided;
        connect(&check, &CallerCheck::decided, this, [&decided](const QHostAddress &, const QString &, bool pass, const QString &why) {
            decided << (pass ? QStringLiteral("pass") : "refused: " + why);
        });
        QString why;
        const CallerCheck::Verdict v = check.check(QHostAddress(from), call, &why);
        if (v == CallerCheck::Verdict::Pass) {
            QCOMPARE(QStringLiteral("pass at once"), verdict);
            QVERIFY(link.log.isEmpty());
            return;
        }
        QCOMPARE(int(v), int(CallerCheck::Verdict::Wait));
        // The caller's keep-alive while it waits asks for nothing more.
        QCOMPARE(int(check.check(QHostAddress(from), call, &why)), int(CallerCheck::Verdict::Wait));
        QCOMPARE(link.log, (QStringList{"open 127.0.0.1:5200", "send 73"}));
        const QStringList entry = newList.split('@');
        if (newList == "fail")
            link.fail("Connection refused");
        else
            link.answer(listReply({{entry[0], "x [ON 00:00]", "2", entry[1]}}));
        QCOMPARE(decided, QStringList{verdict});
        QVERIFY(!check.waiting(QHostAddress(from)));
    }

    // Callers are decided in the order they called, each by the first list
    // that shows it or by one asked for after it called; one list serves
    // every caller waiting when it comes. A caller that left, or stopped
    // calling, is not let in later. Steps: "call IP CALL", "at MS", "list
    // CALL@IP ..." (the list asked for comes), "fail", "bye IP", "gap" (the
    // gap's end). The trace: verdicts, decisions and each list asked for.
    void callersWaitInTurn_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("trace");
        QTest::newRow("listed, nobody waiting") << "call 10.1.1.1 W1AW-L" << "W1AW-L pass";
        QTest::newRow("one list for two callers")
            << "call 10.2.2.2 K1NEW; at 500; call 10.3.3.3 K2NEW; list K1NEW@10.2.2.2 K2NEW@10.3.3.3"
            << "K1NEW wait; asked; K2NEW wait; K1NEW pass; K2NEW pass";
        QTest::newRow("listed caller keeps its turn")
            << "call 10.2.2.2 K1NEW; call 10.1.1.1 W1AW-L; list K1NEW@10.2.2.2 W1AW-L@10.1.1.1"
            << "K1NEW wait; asked; W1AW-L wait; K1NEW pass; W1AW-L pass";
        QTest::newRow("refused one first") << "call 10.2.2.2 K1NEW; call 10.1.1.1 W1AW-L; list W1AW-L@10.1.1.1"
                                           << "K1NEW wait; asked; W1AW-L wait; K1NEW refused: K1NEW is not in the EchoLink "
                                              "directory; W1AW-L pass";
        QTest::newRow("left before the list: no phantom")
            << "call 10.2.2.2 K1NEW; call 10.1.1.1 W1AW-L; bye 10.2.2.2; list K1NEW@10.2.2.2"
            << "K1NEW wait; asked; W1AW-L wait; W1AW-L pass";
        QTest::newRow("stopped calling") << "call 10.2.2.2 K1NEW; at 25001; list K1NEW@10.2.2.2"
                                         << "K1NEW wait; asked; K1NEW refused: K1NEW stopped calling before the directory answered";
        QTest::newRow("still calling") << "call 10.2.2.2 K1NEW; at 20000; call 10.2.2.2 K1NEW; at 45000; list K1NEW@10.2.2.2"
                                       << "K1NEW wait; asked; K1NEW wait; K1NEW pass";
        // Called while a list asked before it was on its way: shown by it,
        // in; not shown, it waits for one asked after the gap, and holds
        // back those that called after it.
        QTest::newRow("came during a list") << "call 10.2.2.2 K1NEW; at 1000; call 10.4.4.4 K3NEW; at 1500; call 10.5.5.5 "
                                               "K4NEW; list K1NEW@10.2.2.2 K4NEW@10.5.5.5; gap; list K3NEW@10.4.4.4 K4NEW@10.5.5.5"
                                            << "K1NEW wait; asked; K3NEW wait; K4NEW wait; K1NEW pass; asked; K3NEW pass; "
                                               "K4NEW pass";
        QTest::newRow("gap holds the next list") << "call 10.2.2.2 K1NEW; list; at 2999; call 10.4.4.4 K3NEW; at 3000; gap"
                                                 << "K1NEW wait; asked; K1NEW refused: K1NEW is not in the EchoLink directory; "
                                                    "K3NEW wait; asked";
    }
    void callersWaitInTurn()
    {
        QFETCH(QString, steps);
        QFETCH(QString, trace);
        FakeLink link;
        Directory dir({{"127.0.0.1"}, "N0CALL-L", "pw", ""}, &link);
        dir.refreshList();
        QTRY_COMPARE(link.log.size(), 2);
        link.answer(listReply({{"W1AW-L", "x [ON 00:00]", "1", "10.1.1.1"}}));
        qint64 now = 100000;
        CallerCheck check(&dir, {}, [&now] { return now; });
        QStringList got;
        connect(&check, &CallerCheck::decided, this, [&got](const QHostAddress &, const QString &call, bool pass, const QString &why) {
            got << call + (pass ? QStringLiteral(" pass") : " refused: " + why);
        });
        qsizetype asked = link.log.filter("send 73").size();
        for (const QString &step : steps.split("; ")) {
            const QStringList w = step.split(' ');
            if (w[0] == "call") {
                QString why;
                const CallerCheck::Verdict v = check.check(QHostAddress(w[1]), w[2], &why);
                got << w[2] + (v == CallerCheck::Verdict::Pass ? " pass" : v == CallerCheck::Verdict::Wait ? " wait" : " refused: " + why);
            } else if (w[0] == "at") {
                now = 100000 + w[1].toLongLong();
            } else if (w[0] == "list") {
                QList<QStringList> entries;
                for (const QString &e : w.mid(1))
                    entries << QStringList{e.section('@', 0, 0), "x [ON 00:00]", "2", e.section('@', 1)};
                link.answer(listReply(entries));
            } else if (w[0] == "bye") {
                check.forget(QHostAddress(w[1]));
            } else if (w[0] == "gap") {
                check.refreshNow();
            }
            for (; asked < link.log.filter("send 73").size(); ++asked)
                got << "asked";
        }
        QCOMPARE(got.join("; "), trace);
    }

    // Made-up callers cannot keep the directory busy: one list a gap, and
    // at most kMaxWaiting callers wait.
    void callersAskForListsSparingly()
    {
        FakeLink link;
        Directory dir({{"127.0.0.1"}, "N0CALL-L", "pw", ""}, &link);
        qint64 now = 0;
        CallerCheck check(&dir, {}, [&now] { return now; });
        QString why;
        for (int i = 0; i < CallerCheck::kMaxWaiting; ++i)
            QCOMPARE(int(check.check(QHostAddress(QStringLiteral("10.9.0.%1").arg(i)), "K1ABC", &why)), int(CallerCheck::Verdict::Wait));
        QCOMPARE(int(check.check(QHostAddress("10.9.1.1"), "K1ABC", &why)), int(CallerCheck::Verdict::Refuse));
        QCOMPARE(why, QStringLiteral("%1 callers are already waiting for the directory").arg(CallerCheck::kMaxWaiting));
        QTRY_COMPARE(link.log.filter("send 73").size(), 1);
        link.answer(listReply({}));
        // All of them refused by that one list; the next caller within the
        // gap waits for the gap's end.
        now = CallerCheck::kRefreshGapMs - 1;
        QCOMPARE(int(check.check(QHostAddress("10.9.2.2"), "K2ABC", &why)), int(CallerCheck::Verdict::Wait));
        QCOMPARE(link.log.filter("send 73").size(), 1);
        check.refreshNow();
        QCOMPARE(link.log.filter("send 73").size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkProtocol)
#include "test_echolink_protocol.moc"
