#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QVector>

namespace mirelva::test {

// A program run by the test, its output kept line by line with the time
// each line was seen.
class Program : public QObject {
public:
    struct Line {
        qint64 at;
        QString text;
    };

    Program(const QString &exe, const QStringList &args, const QProcessEnvironment &env, const QElapsedTimer &clock)
        : m_clock(clock)
    {
        p.setProgram(exe);
        p.setArguments(args);
        p.setProcessEnvironment(env);
        connect(&p, &QProcess::readyReadStandardOutput, this, [this] { take(QProcess::StandardOutput, m_outBuf, out); });
        connect(&p, &QProcess::readyReadStandardError, this, [this] { take(QProcess::StandardError, m_errBuf, err); });
        connect(&p, &QProcess::finished, this, [this] { finishedAt = m_clock.elapsed(); });
        p.start();
    }
    ~Program() override
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(2000);
        }
    }

    // Texts of the standard output lines that start with `prefix`, the
    // prefix taken off.
    QStringList outWith(const QString &prefix) const
    {
        QStringList l;
        for (const Line &line : out)
            if (line.text.startsWith(prefix))
                l << line.text.mid(prefix.size());
        return l;
    }
    // Standard error lines of the on-air log, without their time stamps.
    QStringList log() const
    {
        QStringList l;
        for (const Line &line : err)
            l << (line.text.size() > 24 && line.text.at(4) == '-' ? line.text.mid(24) : line.text);
        return l;
    }
    qint64 outLineAt(const QString &text) const
    {
        for (const Line &line : out)
            if (line.text == text)
                return line.at;
        return -1;
    }
    bool running() const { return p.state() == QProcess::Running; }
    QString errText() const
    {
        QStringList l;
        for (const Line &line : err)
            l << line.text;
        return l.join('\n');
    }

    QProcess p;
    QVector<Line> out, err;
    qint64 finishedAt = -1;

private:
    void take(QProcess::ProcessChannel ch, QByteArray &buf, QVector<Line> &into)
    {
        p.setReadChannel(ch);
        buf += p.readAll();
        qsizetype nl;
        while ((nl = buf.indexOf('\n')) >= 0) {
            into.push_back({m_clock.elapsed(), QString::fromUtf8(buf.left(nl))});
            buf.remove(0, nl + 1);
        }
    }
    const QElapsedTimer &m_clock;
    QByteArray m_outBuf, m_errBuf;
};

} // namespace mirelva::test
