// mirelva-echolink's settings, who may connect, and what a failed connect
// says: the parts of the node that need no network.

#include <QtTest>

#include <sys/stat.h>

#include "node/echolink/echolinkconfig.h"
#include "support/fixture.h"

using namespace mirelva;

namespace {

QString fieldText(const EchoLinkConfig &c, const QString &key)
{
    const QHash<QString, QString> fields = {
        {"CALLSIGN", c.callsign},
        {"LOCATION", c.location},
        {"SERVERS", c.servers.join(',')},
        {"MAXQSOS", QString::number(c.maxQsos)},
        {"ACCEPT", c.accept.join(',')},
        {"DENY", c.deny.join(',')},
        {"ALLOWIP", [&c] {
             QStringList l;
             for (const auto &[net, bits] : c.allowIp)
                 l << QStringLiteral("%1/%2").arg(net.toString()).arg(bits);
             return l.join(',');
         }()},
        {"BINDADDR", c.bindAddr},
        {"PORTBASE", QString::number(c.portBase)},
        {"PROXY", c.proxyHost.isEmpty() ? QString() : QStringLiteral("%1 %2").arg(c.proxyHost).arg(c.proxyPort)},
        {"LISTEN", c.listen},
        {"RXAUDIO", c.rxAudio},
        {"TXAUDIO", c.txAudio},
        {"SQL", c.sql},
        {"PTT", c.ptt},
        {"VOXTHRESHOLD", QString::number(c.voxThresholdDbfs)},
        {"TXHANG", QString::number(c.txHangMs)},
        {"CWWPM", QString::number(c.cwWpm)},
        {"TXTIMEOUT", QString::number(c.txTimeoutSeconds)},
    };
    return fields.value(key);
}

EchoLinkConfig loadWith(const QByteArray &lines)
{
    test::TempSettings settings;
    settings.writeFile("echolink.ini", "[SETTINGS]\r\nCALLSIGN=N0CALL-L\r\nPASSWORD=Secr3t:pw\r\n" + lines + "\r\n");
    QFile::setPermissions(settings.path("echolink.ini"), QFile::ReadOwner | QFile::WriteOwner);
    return EchoLinkConfig::load();
}

} // namespace

class TestEchoLinkSettings : public QObject {
    Q_OBJECT
private slots:
    void valuesAndProblems_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("problems");
        const QString none;
        QTest::newRow("defaults") << QByteArray() << "SERVERS" << "servers.echolink.org" << none;
        QTest::newRow("servers listed") << QByteArray("SERVERS= a.example.org , 127.0.0.1,") << "SERVERS"
                                        << "a.example.org,127.0.0.1" << none;
        QTest::newRow("no good server") << QByteArray("SERVERS=bad host!") << "SERVERS" << "servers.echolink.org"
                                        << "echolink.ini SERVERS: \"bad host!\" is not a host name; left out\n"
                                           "echolink.ini SERVERS: no server left; using servers.echolink.org";
        QTest::newRow("location cut") << QByteArray("LOCATION=A town with a very long name, FN42") << "LOCATION"
                                      << "A town with a very long nam"
                                      << "echolink.ini LOCATION: longer than 27 characters; cut to \"A town with a very long nam\"";
        QTest::newRow("maxqsos") << QByteArray("MAXQSOS=2") << "MAXQSOS" << "2" << none;
        QTest::newRow("maxqsos zero") << QByteArray("MAXQSOS=0") << "MAXQSOS" << "4"
                                      << "echolink.ini MAXQSOS: \"0\" is not 1 to 100 stations; using 4";
        QTest::newRow("patterns upper-cased") << QByteArray("ACCEPT=w1*, k?abc") << "ACCEPT" << "W1*,K?ABC" << none;
        QTest::newRow("bad pattern left out") << QByteArray("DENY=N0BAD, no way") << "DENY" << "N0BAD"
                                              << "echolink.ini DENY: \"NO WAY\" is not a callsign pattern (letters, digits, - / * ?); left out";
        QTest::newRow("allowed ranges") << QByteArray("ALLOWIP=127.0.0.0/8, 192.168.1.7") << "ALLOWIP"
                                        << "127.0.0.0/8,192.168.1.7/32" << none;
        QTest::newRow("allowed range bad") << QByteArray("ALLOWIP=10.0.0.0/33,lan") << "ALLOWIP" << ""
                                           << "echolink.ini ALLOWIP: \"10.0.0.0/33\" is not an IPv4 address range such as "
                                              "192.168.1.0/24; left out\n"
                                              "echolink.ini ALLOWIP: \"lan\" is not an IPv4 address range such as 192.168.1.0/24; left out";
        QTest::newRow("bind address") << QByteArray("BINDADDR=127.0.0.1") << "BINDADDR" << "127.0.0.1" << none;
        QTest::newRow("bind address IPv6") << QByteArray("BINDADDR=::1") << "BINDADDR" << ""
                                           << "echolink.ini BINDADDR: \"::1\" is not an IPv4 address; using any";
        QTest::newRow("port base low") << QByteArray("PORTBASE=80") << "PORTBASE" << "5198"
                                       << "echolink.ini PORTBASE: \"80\" is not 1024 to 65534 (a UDP port); using 5198";
        QTest::newRow("proxy") << QByteArray("PROXY=proxy.example.org:8100:Secr3t:pw") << "PROXY" << "proxy.example.org 8100" << none;
        QTest::newRow("proxy bad, password unsaid") << QByteArray("PROXY=proxy.example.org:Secr3t:pw") << "PROXY" << ""
                                                    << "echolink.ini PROXY: not HOST:PORT:PASSWORD; no proxy is used";
        QTest::newRow("listen") << QByteArray("LISTEN=unix:/tmp/n.sock") << "LISTEN" << "unix:/tmp/n.sock" << none;
        QTest::newRow("listen bad") << QByteArray("LISTEN=/tmp/n.sock") << "LISTEN" << "unix:/run/mirelva-echolink/node.sock"
                                    << "echolink.ini LISTEN: \"/tmp/n.sock\" is neither unix:PATH nor tcp:HOST:PORT; "
                                       "using unix:/run/mirelva-echolink/node.sock";
        QTest::newRow("udp audio") << QByteArray("RXAUDIO=udp:127.0.0.1:10001") << "RXAUDIO" << "udp:127.0.0.1:10001" << none;
        QTest::newRow("audio bad") << QByteArray("TXAUDIO=pulse") << "TXAUDIO" << "alsa:default"
                                   << "echolink.ini TXAUDIO: \"pulse\" is neither alsa:DEVICE nor udp:ADDRESS:PORT; using alsa:default";
        QTest::newRow("squelch line") << QByteArray("SQL=serial:/dev/ttyUSB0:DCD") << "SQL" << "serial:/dev/ttyUSB0:DCD" << none;
        QTest::newRow("squelch on a sound card button") << QByteArray("SQL=hidraw:/dev/hidraw0:VOL_DN") << "SQL"
                                                        << "hidraw:/dev/hidraw0:VOL_DN" << none;
        QTest::newRow("ptt bad hidraw pin") << QByteArray("PTT=hidraw:/dev/hidraw0:9") << "PTT" << ""
                                            << "echolink.ini PTT: \"hidraw:/dev/hidraw0:9\": hidraw pin \"9\" is not 1..8, "
                                               "VOL_UP, VOL_DN, MUTE_PLAY or MUTE_REC; none is used";
        QTest::newRow("squelch bad") << QByteArray("SQL=carrier") << "SQL" << "vox"
                                     << "echolink.ini SQL: \"carrier\": unknown line kind \"carrier\" (serial, hidraw, gpio or none); using vox";
        QTest::newRow("ptt on an input") << QByteArray("PTT=serial:/dev/ttyUSB0:DCD") << "PTT" << ""
                                         << "echolink.ini PTT: \"serial:/dev/ttyUSB0:DCD\" is an input; it cannot be driven; none is used";
        QTest::newRow("vox threshold") << QByteArray("VOXTHRESHOLD=-42.5") << "VOXTHRESHOLD" << "-42.5" << none;
        QTest::newRow("vox threshold above 0") << QByteArray("VOXTHRESHOLD=3") << "VOXTHRESHOLD" << "-30"
                                               << "echolink.ini VOXTHRESHOLD: \"3\" is not -90 to 0 dBFS; using -30";
        QTest::newRow("tx hang") << QByteArray("TXHANG=0") << "TXHANG" << "0" << none;
        QTest::newRow("cw speed words") << QByteArray("CWWPM=fast") << "CWWPM" << "20"
                                        << "echolink.ini CWWPM: \"fast\" is not 5 to 60 words per minute; using 20";
        QTest::newRow("time-out short") << QByteArray("TXTIMEOUT=4") << "TXTIMEOUT" << "180"
                                        << "echolink.ini TXTIMEOUT: \"4\" is not 5 to 900 seconds; using 180";
    }
    void valuesAndProblems()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, problems);
        const EchoLinkConfig c = loadWith(lines);
        QCOMPARE(fieldText(c, key), value);
        QCOMPARE(c.problems.join('\n'), problems);
        QVERIFY(c.refusal.isEmpty());
        QCOMPARE(c.password, QStringLiteral("Secr3t:pw"));
    }

    void callsignRefusals_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("link, lower case") << QByteArray("CALLSIGN=w1aw-l") << "W1AW-L" << "";
        QTest::newRow("repeater") << QByteArray("CALLSIGN=VK2ABC-R") << "VK2ABC-R" << "";
        QTest::newRow("missing") << QByteArray() << ""
                                 << "echolink.ini CALLSIGN is missing: the node's callsign, with -L (link) or -R (repeater), "
                                    "is needed to log in to the EchoLink directory";
        QTest::newRow("no suffix") << QByteArray("CALLSIGN=W1AW") << "W1AW"
                                   << "echolink.ini CALLSIGN: \"W1AW\" is not a node's callsign; it needs -L (link) or -R "
                                      "(repeater) after the callsign, e.g. W1AW-L";
    }
    void callsignRefusals()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, callsign);
        QFETCH(QString, refusal);
        test::TempSettings settings;
        settings.writeFile("echolink.ini", "[SETTINGS]\r\nPASSWORD=x\r\n" + line + "\r\n");
        const EchoLinkConfig c = EchoLinkConfig::load();
        QCOMPARE(c.callsign, callsign);
        QCOMPARE(c.refusal, refusal);
    }

    // The password is said nowhere: not in a problem, not in anything the
    // libraries say back through the node's log.
    void passwordNeverSaid()
    {
        const EchoLinkConfig c = loadWith("PROXY=p:x:Secr3t:pw\r\nLOCATION=Secr3t:pw and more than 27 characters\r\nMAXQSOS=Secr3t:pw");
        QCOMPARE(c.problems.size(), 3);
        for (const QString &p : c.problems)
            QVERIFY2(!p.contains("Secr3t"), qPrintable(p));
        const EchoLinkConfig missing = EchoLinkConfig::fromValues([](const QString &k) {
            return k == "CALLSIGN" ? QStringLiteral("N0CALL-L") : QString();
        });
        QCOMPARE(missing.problems, QStringList{"echolink.ini PASSWORD: missing; the directory will refuse the login"});
        QCOMPARE(withoutSecrets("login N0CALL-L/Secr3t:pw refused; proxy pw", {"Secr3t:pw", "", "pw"}),
                 QStringLiteral("login N0CALL-L/******** refused; proxy ********"));
    }

    // A password every user of the machine may read is said once, at start
    // and by --check (the same lines), which still passes.
    void passwordOthersMayReadIsSaid_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("said");
        QTest::newRow("0600") << QByteArray("PASSWORD=Secr3t:pw") << 0600 << "";
        QTest::newRow("0640, the node's group") << QByteArray("PASSWORD=Secr3t:pw") << 0640 << "";
        QTest::newRow("0644") << QByteArray("PASSWORD=Secr3t:pw") << 0644
                              << "mirelva-echolink: echolink.ini: FOLDER/echolink.ini holds the PASSWORD and every user "
                                 "of this machine may read it (mode 0644); make it readable by the node's user only: "
                                 "chmod 0600 FOLDER/echolink.ini";
        QTest::newRow("0604, a proxy's") << QByteArray("PROXY=proxy.example.org:8100:Secr3t:pw") << 0604
                                         << "mirelva-echolink: echolink.ini PASSWORD: missing; the directory will refuse the login\n"
                                            "mirelva-echolink: echolink.ini: FOLDER/echolink.ini holds the PROXY password and "
                                            "every user of this machine may read it (mode 0604); make it readable by the "
                                            "node's user only: chmod 0600 FOLDER/echolink.ini";
        QTest::newRow("0644, no password") << QByteArray() << 0644
                                           << "mirelva-echolink: echolink.ini PASSWORD: missing; the directory will refuse the login";
    }
    void passwordOthersMayReadIsSaid()
    {
        QFETCH(QByteArray, password);
        QFETCH(int, mode);
        QFETCH(QString, said);
        test::TempSettings settings;
        settings.writeFile("echolink.ini", "[SETTINGS]\nCALLSIGN=N0CALL-L\nLISTEN=unix:/tmp/n.sock\n" + password + "\n");
        QVERIFY(::chmod(QFile::encodeName(settings.path("echolink.ini")).constData(), mode_t(mode)) == 0);
        QProcess check;
        check.start(qEnvironmentVariable("MIRELVA_BIN_DIR") + "/mirelva-echolink", {"--check"});
        QVERIFY(check.waitForFinished(10000));
        QCOMPARE(check.exitCode(), 0);
        QStringList lines;
        for (const QString &l : QString::fromUtf8(check.readAllStandardError()).split('\n', Qt::SkipEmptyParts))
            lines << l.mid(24);   // after the time stamp
        QCOMPARE(lines.join('\n'), QString(said).replace("FOLDER", settings.folder()));
        QCOMPARE(EchoLinkConfig::load().problems.join('\n'), QString(said).remove("mirelva-echolink: ").replace("FOLDER", settings.folder()));
    }

    void whoMayConnect_data()
    {
        QTest::addColumn<QString>("accept");
        QTest::addColumn<QString>("deny");
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("connected");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("anyone") << "" << "" << "W1AW-L" << 0 << "";
        QTest::newRow("star and question mark") << "W?A*" << "" << "w1aw" << 0 << "";
        QTest::newRow("no accept pattern") << "VK*,ZL*" << "" << "W1AW" << 0 << "W1AW matches no ACCEPT pattern";
        QTest::newRow("deny beats accept") << "*" << "*-L,N0BAD" << "W1AW-L" << 0 << "W1AW-L matches DENY pattern *-L";
        QTest::newRow("deny whole call only") << "*" << "N0BAD" << "N0BADX" << 0 << "";
        // A conference's own stars are letters to match, the pattern's are wildcards.
        QTest::newRow("conference, accept all") << "*" << "" << "*TESTCONF*" << 0 << "";
        QTest::newRow("conference denied") << "*" << "*CONF*" << "*TESTCONF*" << 0 << "*TESTCONF* matches DENY pattern *CONF*";
        QTest::newRow("conference by name") << "*TEST*" << "" << "*TESTCONF*" << 0 << "";
        QTest::newRow("full") << "*" << "" << "W1AW" << 4 << "4 stations are already connected, the most MAXQSOS allows";
        QTest::newRow("star matches nothing too") << "W1AW*" << "" << "W1AW" << 3 << "";
        // The canonical form is matched: a stray character is no way past DENY.
        QTest::newRow("lower case, denied") << "*" << "*-L" << " k1abc-l" << 0 << "K1ABC-L matches DENY pattern *-L";
        QTest::newRow("trailing dot") << "*" << "*-L" << "K1ABC-L." << 0 << "\"K1ABC-L.\" is not a callsign";
        QTest::newRow("binary junk") << "*" << "" << QString::fromLatin1("\x01\xfe") << 0
                                     << QString::fromLatin1("\"\x01\xfe\" is not a callsign");
    }
    void whoMayConnect()
    {
        QFETCH(QString, accept);
        QFETCH(QString, deny);
        QFETCH(QString, call);
        QFETCH(int, connected);
        QFETCH(QString, refusal);
        const EchoLinkConfig c = EchoLinkConfig::fromValues([&](const QString &k) {
            return k == "ACCEPT" ? accept : k == "DENY" ? deny : k == "CALLSIGN" ? QStringLiteral("N0CALL-L") : QString();
        });
        QCOMPARE(incomingRefusal(c, call, connected), refusal);
    }

    void failureTexts_data()
    {
        QTest::addColumn<int>("why");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("text");
        using F = ConnectFailure;
        QTest::newRow("not a call") << int(F::NotACallsign) << "HELLO WORLD" << ""
                                    << "Connect \"HELLO WORLD\" failed: not a callsign, conference or node number";
        QTest::newRow("own") << int(F::OwnCallsign) << "N0CALL-L" << "" << "Connect N0CALL-L failed: that is this node's own callsign";
        QTest::newRow("already") << int(F::AlreadyConnected) << "W1AW" << "" << "Connect W1AW failed: already connected";
        QTest::newRow("full") << int(F::TooMany) << "W1AW" << "4" << "Connect W1AW failed: 4 stations are connected, the most MAXQSOS allows";
        QTest::newRow("not listed") << int(F::NotInDirectory) << "*ECHOTEST*" << ""
                                    << "Connect *ECHOTEST* failed: not in the EchoLink directory (not logged in now)";
        QTest::newRow("busy") << int(F::StationBusy) << "W1AW" << "" << "Connect W1AW failed: the station is busy";
        QTest::newRow("directory") << int(F::DirectoryUnreachable) << "W1AW" << "no station list in 30 seconds"
                                   << "Connect W1AW failed: the EchoLink directory cannot be reached (no station list in 30 seconds)";
        QTest::newRow("no answer") << int(F::NoAnswer) << "W1AW" << "203.0.113.5" << "Connect W1AW failed: no answer from the station at 203.0.113.5";
        QTest::newRow("refused") << int(F::Refused) << "W1AW" << "" << "Connect W1AW failed: the station refused the connection";
    }
    void failureTexts()
    {
        QFETCH(int, why);
        QFETCH(QString, call);
        QFETCH(QString, detail);
        QFETCH(QString, text);
        QCOMPARE(connectFailureText(ConnectFailure(why), call, detail), text);
    }

    void connectTakesCallsConferencesAndNumbers()
    {
        for (const char *good : {"W1AW", "W1AW-L", "VK2ABC-R", "*ECHOTEST*", "9999", "DL/W1AW"})
            QVERIFY2(isStationName(good), good);
        for (const char *bad : {"", "HELLO WORLD", "W1AW-X", "*OPEN", "12345678", "W1AW;RM"})
            QVERIFY2(!isStationName(bad), bad);
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkSettings)
#include "test_echolink_settings.moc"
