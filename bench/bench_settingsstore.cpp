// A main window's save and load: about a hundred keys, each one a full
// read (and for a save, an atomic rewrite) of its file.
#include <QCoreApplication>
#include <QElapsedTimer>
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
        for (int k = 0; k < kKeys; ++k)
            ini.write(QStringLiteral("KEY%1").arg(k), QStringLiteral("value %1 of round %2").arg(k).arg(r));
    }
    const double saveMs = double(t.nsecsElapsed()) / 1e6 / kRounds;

    t.restart();
    qint64 chars = 0;
    for (int r = 0; r < kRounds; ++r) {
        for (int k = 0; k < kKeys; ++k)
            chars += ini.text(QStringLiteral("key%1").arg(k), QString()).size();
    }
    const double loadMs = double(t.nsecsElapsed()) / 1e6 / kRounds;

    t.restart();
    for (int r = 0; r < kRounds; ++r) {
        for (int k = 0; k < kKeys; ++k)
            ini.write(QStringLiteral("KEY%1").arg(k), QStringLiteral("value %1 of round %2").arg(k).arg(kRounds - 1));
    }
    const double unchangedMs = double(t.nsecsElapsed()) / 1e6 / kRounds;

    std::printf("save of %d changed keys:   %.2f ms\n", kKeys, saveMs);
    std::printf("save of %d unchanged keys: %.2f ms\n", kKeys, unchangedMs);
    std::printf("load of %d keys:           %.2f ms (%lld chars)\n", kKeys, loadMs, chars / kRounds);
    return 0;
}
