#pragma once

#include <QStringList>
#include <QTemporaryDir>

#include "core/speechvoice.h"

namespace mirelva::test {

// A voice that speaks nowhere and remembers what it was asked to say.
class RecordingVoice : public SpeechVoice {
public:
    struct Spoken {
        QString text;
        int flags;
        int rate;
        int volume;
    };
    QVector<Spoken> spoken;
    QStringList texts() const
    {
        QStringList l;
        for (const auto &s : spoken)
            l << s.text;
        return l;
    }

protected:
    void play(const QString &text, int flags) override { spoken.push_back({text, flags, Rate(), Volume()}); }
};

// A private settings folder for one test program: XDG_CONFIG_HOME points into
// a temporary directory that disappears with the test.
class TempSettings {
public:
    TempSettings();
    QString folder() const;                 // .../mirelva
    QString path(const QString &file) const;
    void writeFile(const QString &file, const QByteArray &bytes) const;
    QByteArray readFile(const QString &file) const;
    void clear() const;                     // removes every settings file

private:
    QTemporaryDir m_dir;
};

} // namespace mirelva::test
