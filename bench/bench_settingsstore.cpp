// A main window's save and load: about a hundred keys. A save is one
// IniFile::Save (one read and one atomic replacement of the file); a load is
// one full read per key. For comparison, the same keys written one by one,
// each a save of its own, as windows saved before.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

#include "core/settingsstore.h"

using namespace mirelva;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const IniFile ini(QStringLiteral("bench.ini"), 256);
    constexpr int kKeys = 100;
    constexpr int kRounds = 20;

    QElapsedTimer t;
    t.start();
    for (int r = 0; r < kRounds; ++r) {
        IniFile::Save save(ini);
        for (int k = 0; k < kKeys; ++k)
            ini.write(QStringLiteral("KEY%1").arg(k), QStringLiteral("value %1 of round %2").arg(k).arg(r));
    }
    const double saveMs = double(t.nsecsElapsed()) / 1e6 / kRounds;

    constexpr int kSingleRounds = 3;
    t.restart();
    for (int r = 0; r < kSingleRounds; ++r) {
        for (int k = 0; k < kKeys; ++k)
            ini.write(QStringLiteral("KEY%1").arg(k), QStringLiteral("single value %1 of round %2").arg(k).arg(r));
    }
    const double singleMs = double(t.nsecsElapsed()) / 1e6 / kSingleRounds;

    t.restart();
    qint64 chars = 0;
    for (int r = 0; r < kRounds; ++r) {
        for (int k = 0; k < kKeys; ++k)
            chars += ini.text(QStringLiteral("key%1").arg(k), QString()).size();
    }
    const double loadMs = double(t.nsecsElapsed()) / 1e6 / kRounds;

    t.restart();
    for (int r = 0; r < kRounds; ++r) {
        IniFile::Save save(ini);
        for (int k = 0; k < kKeys; ++k)
            ini.write(QStringLiteral("KEY%1").arg(k), QStringLiteral("single value %1 of round %2").arg(k).arg(kSingleRounds - 1));
    }
    const double unchangedMs = double(t.nsecsElapsed()) / 1e6 / kRounds;

    std::printf("save of %d changed keys:   %.2f ms\n", kKeys, saveMs);
    std::printf("save of %d unchanged keys: %.2f ms\n", kKeys, unchangedMs);
    std::printf("%d keys written one by one: %.2f ms\n", kKeys, singleMs);
    std::printf("load of %d keys:           %.2f ms (%lld chars)\n", kKeys, loadMs, chars / kRounds);

    // Damaged files of 10 MB: a start-up reads each of them a hundred times.
    const QString damagedPath = dir.path() + QStringLiteral("/mirelva/damaged.ini");
    const IniFile damaged(QStringLiteral("damaged.ini"), 256);
    QByteArray garbage(10 << 20, Qt::Uninitialized);
    QRandomGenerator random(1252);
    for (char &c : garbage)
        c = char(random.bounded(256));
    const QList<std::pair<const char *, QByteArray>> files{
        {"blank lines", QByteArray("[SETTINGS]\n") + QByteArray(10 << 20, '\n')},
        {"one long value", QByteArray("[SETTINGS]\nCALLSIGN=") + QByteArray(10 << 20, 'x') + '\n'},
        {"binary garbage", garbage},
    };
    for (const auto &[what, bytes] : files) {
        QFile file(damagedPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
        file.close();
        t.restart();
        for (int k = 0; k < kKeys; ++k)
            chars += damaged.text(QStringLiteral("KEY%1").arg(k), QStringLiteral("default")).size();
        const double damagedLoadMs = double(t.nsecsElapsed()) / 1e6;
        t.restart();
        {
            IniFile::Save save(damaged);
            for (int k = 0; k < kKeys; ++k)
                damaged.write(QStringLiteral("KEY%1").arg(k), QStringLiteral("value"));
        }
        const double damagedSaveMs = double(t.nsecsElapsed()) / 1e6;
        std::printf("10 MB of %-15s load of %d keys %8.1f ms, save %8.1f ms\n", what, kKeys, damagedLoadMs,
                    damagedSaveMs);
    }
    return 0;
}
