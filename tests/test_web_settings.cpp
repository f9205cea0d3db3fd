// The web console's password hash and its refusals to listen.

#include <QtTest>

#include "core/onairlog.h"
#include "core/station.h"
#include "support/fixture.h"
#include "web/webconsole.h"
#include "web/webpassword.h"

using namespace mirelva;

class TestWebSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { OnAirLog::setEchoToStderr(false); }

    void pbkdf2MatchesTheKnownVector()
    {
        // RFC 7914, section 11: PBKDF2-HMAC-SHA256, the first 32 bytes.
        QCOMPARE(WebPassword::pbkdf2Sha256("passwd", "salt", 1).toHex(),
                 QByteArray("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"));
        const QString stored = WebPassword::hash(QStringLiteral("abc def ghi"), 1000);
        QVERIFY(stored.startsWith(QStringLiteral("pbkdf2-sha256$1000$")));
        QVERIFY(WebPassword::verify(QStringLiteral("abc def ghi"), stored));
        QVERIFY(!WebPassword::verify(QStringLiteral("abc def gh"), stored));
        QVERIFY(WebPassword::hash(QStringLiteral("abc def ghi"), 1000) != stored);   // a salt of its own
        // Zero rounds would derive what one round derives: an entry that
        // says 0 is refused even when its hash matches.
        const QString zeroRounds = QStringLiteral("pbkdf2-sha256$0$c2FsdA==$")
                                   + QString::fromLatin1(WebPassword::pbkdf2Sha256("abc def ghi", "salt", 1).toBase64());
        QVERIFY(WebPassword::verify(QStringLiteral("abc def ghi"), QString(zeroRounds).replace("$0$", "$1$")));
        for (const QString &bad : {QString(), QStringLiteral("abc def ghi"), QStringLiteral("pbkdf2-sha256$0$c2FsdA==$AA=="),
                                   zeroRounds, QString(zeroRounds).replace("$0$", "$-1$"),
                                   stored.section(QLatin1Char('$'), 0, 2) + QStringLiteral("$AAAA")})
            QVERIFY2(!WebPassword::verify(QStringLiteral("abc def ghi"), bad), qPrintable(bad));
    }

    void startRefusesWhatIsUnsafe_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("allowPlain");
        QTest::addColumn<bool>("password");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QString>("logged");
        const QString plain = QStringLiteral(
            "refused to listen on 0.0.0.0 without TLS: set CERTIFICATE and KEY in web.ini, or ALLOWPLAIN=1 to let "
            "the password cross the network readable");
        QTest::newRow("no password") << "127.0.0.1" << false << false
                                     << "no password is set; run mirelva --set-web-password" << "";
        QTest::newRow("no address") << "shack" << false << true << "ADDRESS \"shack\" in web.ini is no IP address" << "";
        QTest::newRow("beyond loopback") << "0.0.0.0" << false << true << plain << "";
        QTest::newRow("beyond loopback, allowed") << "0.0.0.0" << true << true << ""
            << "web console: WARNING: listening on 0.0.0.0 without TLS, as ALLOWPLAIN=1 says: the password and "
               "the session cross the network readable";
        QTest::newRow("loopback") << "127.0.0.1" << false << true << "" << "";
    }

    void startRefusesWhatIsUnsafe()
    {
        QFETCH(QString, address);
        QFETCH(bool, allowPlain);
        QFETCH(bool, password);
        QFETCH(QString, refusal);
        QFETCH(QString, logged);
        test::TempSettings settings;
        WebSettings s;
        s.address = address;
        s.port = 0;
        s.allowPlain = allowPlain;
        if (password)
            s.passwordHash = WebPassword::hash(QStringLiteral("0123456789"), 10);
        Station station;
        WebConsole console(station, s);
        QStringList lines;
        connect(&OnAirLog::instance(), &OnAirLog::line, this, [&lines](const QString &l) { lines << l.mid(24); });
        QString why;
        QCOMPARE(console.start(&why), refusal.isEmpty());
        QCOMPARE(why, refusal);
        QCOMPARE(lines, logged.isEmpty() ? QStringList() : QStringList{logged});
        OnAirLog::instance().disconnect(this);
    }
};

QTEST_MAIN(TestWebSettings)
#include "test_web_settings.moc"
