// The baseline of bench_startup: the smallest Qt Widgets program, one window
// with one line of text, linked with Qt Widgets alone. It writes "minimal
// started" on standard error just after the window's first paint, as mirelva
// writes its "started" line.

#include <cstdio>

#include <QApplication>
#include <QLabel>
#include <QTimer>

namespace {

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, [] {
                std::fprintf(stderr, "minimal started\n");
                std::fflush(stderr);
            });
        }
        return false;
    }

private:
    bool m_done = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Text, so the baseline pays for fonts as any real window does.
    QLabel w(QStringLiteral("Hello, world"));
    w.resize(400, 300);
    FirstPaint watcher;
    w.installEventFilter(&watcher);
    w.show();
    return app.exec();
}
