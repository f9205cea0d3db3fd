// When mirelva-echolink keys the transmitter: the rules of TxKeyer, on a
// clock the test moves.

#include <QtTest>

#include "node/echolink/txkeyer.h"

using namespace mirelva;

class TestEchoLinkKeying : public QObject {
    Q_OBJECT
private slots:
    // Each step is TIME:WHAT. ptt+/ptt- Mirelva's SetPTT, audio+/audio-
    // audio going out and all of it gone, end the node ending; K/k keyed or
    // not, P/p audio passing or held, T/t timed out or not, Dn the next
    // deadline (D- none). TXHANG 300 ms, TXTIMEOUT 10 s, PREKEY as the row says.
    void keying_data()
    {
        QTest::addColumn<int>("preKeyMs");
        QTest::addColumn<QString>("steps");
        QTest::newRow("Mirelva's key, no hang after it") << 0 << "0:k 0:ptt+ 0:K 0:P 5000:ptt- 5000:k 5000:D-";
        QTest::newRow("audio keys, hang after it")
            << 0 << "0:audio+ 0:K 0:P 2000:audio- 2000:K 2000:D2300 2299:K 2300:k 2300:D-";
        QTest::newRow("audio again within the hang") << 0 << "0:audio+ 1000:audio- 1200:audio+ 1500:K 1600:audio- 1899:K 1900:k";
        QTest::newRow("hang starts after Mirelva lets go") << 0 << "0:ptt+ 0:audio+ 500:audio- 900:K 1000:ptt- 1000:k";
        QTest::newRow("prekey holds audio") << 150 << "0:audio+ 0:K 0:p 0:D150 149:p 150:P";
        QTest::newRow("time-out, then quiet air keys again")
            << 0 << "0:audio+ 0:D10000 9999:K 10000:k 10000:T 10000:p 20000:k 20000:audio- 20000:T 20300:t 20300:k 21000:audio+ 21000:K";
        QTest::newRow("time-out holds while Mirelva keeps the key")
            << 0 << "0:ptt+ 10000:k 10000:T 60000:k 60000:ptt- 60000:t 60001:ptt+ 60001:K";
        QTest::newRow("ending releases for good") << 0 << "0:ptt+ 0:audio+ 100:end 100:k 200:audio- 9000:k 9000:ptt+ 9000:k";
    }
    void keying()
    {
        QFETCH(int, preKeyMs);
        QFETCH(QString, steps);
        TxKeyer keyer(300, 10000, preKeyMs);
        for (const QString &step : steps.split(' ')) {
            const qint64 t = step.section(':', 0, 0).toLongLong();
            const QString what = step.section(':', 1);
            const QByteArray where = step.toLatin1();
            if (what == "ptt+" || what == "ptt-")
                keyer.setRequested(what == "ptt+", t);
            else if (what == "audio+" || what == "audio-")
                keyer.setAudio(what == "audio+", t);
            else if (what == "end")
                keyer.shutDown(t);
            else if (what.startsWith('D'))
                QVERIFY2(keyer.nextDeadline(t) == (what == "D-" ? -1 : what.mid(1).toLongLong()), where.constData());
            else {
                keyer.update(t);
                const QChar c = what.at(0);
                const bool want = c.isUpper();
                const bool have = c.toUpper() == 'K' ? keyer.keyed() : c.toUpper() == 'P' ? keyer.audioPasses(t) : keyer.timedOut();
                QVERIFY2(have == want, where.constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestEchoLinkKeying)
#include "test_echolink_keying.moc"
