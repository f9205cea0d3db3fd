#include <QTest>

#include "bench/benchsupport.h"

using mirelva::bench::Gaps;
using mirelva::bench::TxBlock;

// What bench_echolink reports as gaps at the transmitter: the sound card's
// view of a node's datagrams (20 ms each here), the over's tail apart.
class TestBenchGaps : public QObject {
    Q_OBJECT
private slots:
    void gaps_data()
    {
        // Each datagram's arrival in ms, "q" before it when it is quiet.
        QTest::addColumn<QString>("datagrams");
        QTest::addColumn<int>("tailMs");
        QTest::addColumn<QList<double>>("expected");   // count, ms, tail count, tail ms

        QTest::newRow("steady") << "0 20 40 60" << 1000 << QList<double>{0, 0, 0, 0};
        QTest::newRow("a burst plays on from the card's buffer") << "0 20 55 55 55 100" << 1000 << QList<double>{0, 0, 0, 0};
        QTest::newRow("late by less than a frame is no gap") << "0 20 59" << 1000 << QList<double>{0, 0, 0, 0};
        QTest::newRow("late by more: the wait is silence") << "0 20 75 95" << 1000 << QList<double>{1, 35, 0, 0};
        QTest::newRow("quiet datagrams in a row are one gap") << "0 q20 q40 60 80" << 1000 << QList<double>{1, 40, 0, 0};
        QTest::newRow("quiet before the first and after the last loud do not count")
            << "q0 q20 40 60 q80" << 1000 << QList<double>{0, 0, 0, 0};
        QTest::newRow("a late datagram then a quiet one: one gap of both")
            << "0 50 q70 90" << 1000 << QList<double>{1, 50, 0, 0};
        QTest::newRow("a gap from the tail on is counted apart") << "0 20 40 160" << 60 << QList<double>{0, 0, 1, 100};
        QTest::newRow("nothing loud") << "q0 q20" << 1000 << QList<double>{0, 0, 0, 0};
    }
    void gaps()
    {
        QFETCH(QString, datagrams);
        QFETCH(int, tailMs);
        QFETCH(QList<double>, expected);
        std::vector<TxBlock> blocks;
        for (const QString &d : datagrams.split(u' '))
            blocks.push_back({qint64(QString(d).remove(u'q').toInt()) * 1000, 20.0, !d.startsWith(u'q')});
        const Gaps g = mirelva::bench::gaps(blocks, qint64(tailMs) * 1000);
        QCOMPARE((QList<double>{double(g.count), g.ms, double(g.tailCount), g.tailMs}), expected);
    }
};

QTEST_GUILESS_MAIN(TestBenchGaps)
#include "test_bench_gaps.moc"
