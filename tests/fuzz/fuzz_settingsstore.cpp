// libFuzzer target for the settings store's reader and writer: the bytes are
// a settings file as a damaged disk, another editor or a hostile hand might
// leave it. Reading must never crash or return more than the capacity allows;
// a write must read back as written and leave every other key as it read.
//
//   CXX=clang++ cmake -S . -B build-fuzz -DMIRELVA_FUZZ=ON
//   cmake --build build-fuzz --target fuzz_settingsstore
//   build-fuzz/fuzz_settingsstore -max_total_time=60 tests/fuzz/settings-corpus

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

#include "core/settingsstore.h"

using namespace mirelva;

namespace {

const QString kFile = QStringLiteral("fuzz.ini");
constexpr int kCapacity = 256;

void check(bool ok)
{
    if (!ok)
        std::abort();
}

QString folder()
{
    static const QString dir = [] {
        QByteArray tmpl = (QDir::tempPath() + QStringLiteral("/mirelva-fuzz-XXXXXX")).toLocal8Bit();
        check(::mkdtemp(tmpl.data()) != nullptr);
        qputenv("XDG_CONFIG_HOME", tmpl);
        QDir().mkpath(SettingsStore::folder());
        return QString::fromLocal8Bit(tmpl);
    }();
    return dir;
}

// The keys a real window reads, and a few shapes that only a damaged file has.
const QStringList &keys()
{
    static const QStringList k = {
        QStringLiteral("CALLSIGN"),  QStringLiteral("hourON1b"), QStringLiteral("INFOTEXT"),
        QStringLiteral("LEFT"),      QStringLiteral("TOP"),      QStringLiteral("A"),
        QStringLiteral("KEY WITH BLANKS"), QStringLiteral("\u00c9T\u00c9"),
    };
    return k;
}

void writeFile(const QByteArray &bytes)
{
    QFile f(SettingsStore::pathOf(kFile));
    check(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    check(f.write(bytes) == bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    folder();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    writeFile(bytes);

    QStringList before;
    for (const QString &key : keys()) {
        const QString value = SettingsStore::read(kFile, key, QStringLiteral("default"), kCapacity);
        check(value.size() <= kCapacity - 1);
        check(!value.contains(u'\n') && !value.contains(u'\r'));
        before << value;
    }

    // A value made from the input's first bytes, kept to what a window could
    // type: printable Latin-1, no blanks or quotes at its ends.
    QString value;
    for (size_t i = 0; i < size && value.size() < 40; ++i) {
        const char16_t c = data[i];
        if ((c >= 0x21 && c < 0x7f && c != '"' && c != '\'') || c >= 0xa1)
            value.append(QChar(c));
    }
    const QString key = QStringLiteral("FUZZKEY");
    SettingsStore::write(kFile, key, value);
    const QString back = SettingsStore::read(kFile, key, QStringLiteral("missing"), kCapacity);
    // A file the store refuses to read whole is left alone, so the key stays missing.
    check(back == value || back == QStringLiteral("missing"));
    if (back == value) {
        for (int i = 0; i < keys().size(); ++i)
            check(SettingsStore::read(kFile, keys().at(i), QStringLiteral("default"), kCapacity) == before.at(i));

        // A save of several keys, one given twice, in one replacement.
        const QString other = QStringLiteral("FUZZKEY2");
        check(SettingsStore::writeAll(kFile, {{key, QStringLiteral("x")}, {other, value}, {key.toLower(), value + u'!'}})
                  .saved);
        check(SettingsStore::read(kFile, key, QStringLiteral("missing"), kCapacity) == (value + u'!').left(kCapacity - 1));
        check(SettingsStore::read(kFile, other, QStringLiteral("missing"), kCapacity) == value);
        for (int i = 0; i < keys().size(); ++i)
            check(SettingsStore::read(kFile, keys().at(i), QStringLiteral("default"), kCapacity) == before.at(i));
    }
    return 0;
}
