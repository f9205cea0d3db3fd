// mirelva-node: the simulated node as a program of its own, serving the node
// link protocol so that Mirelva (or several copies of it, or a test) can drive
// it over a socket. With a window it shows the node console; --headless takes
// console commands from standard input instead, for scripts.

#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "core/onairlog.h"
#include "core/programoptions.h"
#include "core/version.h"
#include "node/simulated/nodecommands.h"
#include "node/console/nodeconsole.h"
#include "node/link/nodeprotocol.h"
#include "node/link/nodeserver.h"
#include "node/link/quitonsignals.h"
#include "node/simulated/simulatednode.h"

using namespace mirelva;

namespace {

void say(FILE *to, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fflush(to);
}

// What went wrong, on standard error with the local time, as the on-air log
// that shares the stream writes its lines.
void complain(const QString &text)
{
    OnAirLog::complain(QStringLiteral("mirelva-node"), text);
}

// Console commands from standard input, one per line.
class StdinCommands : public QObject {
public:
    StdinCommands(SimulatedNode *node, QObject *parent) : QObject(parent), m_node(node)
    {
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &StdinCommands::readSome);
    }

private:
    void readSome()
    {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // End of input: the node goes on serving until it is stopped.
            m_notifier->setEnabled(false);
            for (const auto &item : m_reader.feed(QByteArrayLiteral("\n")))
                run(item);
            return;
        }
        for (const auto &item : m_reader.feed(QByteArray(buf, int(n))))
            run(item);
    }

    void run(const nodelink::LineReader::Item &item)
    {
        if (item.overlong) {
            complain(QStringLiteral("command line too long, ignored"));
            return;
        }
        QString error;
        QStringList output;
        if (!NodeCommands::run(m_node, QString::fromUtf8(item.line), &error, &output))
            complain(error);
        for (const QString &l : output)
            say(stdout, l);
    }

    SimulatedNode *m_node;
    QSocketNotifier *m_notifier;
    nodelink::LineReader m_reader{4096};
};

} // namespace

int main(int argc, char *argv[])
{
    ProgramOptions options(QStringLiteral("mirelva-node"),
                           QStringLiteral("A simulated EchoLink node that Mirelva drives over a socket."));
    const QCommandLineOption listenOpt = options.value(
        QStringLiteral("listen"), QStringLiteral("Where to listen: unix:PATH or tcp:HOST:PORT."), QStringLiteral("address"));
    const QCommandLineOption callOpt =
        options.value(QStringLiteral("callsign"), QStringLiteral("The node's own callsign."), QStringLiteral("call"));
    const QCommandLineOption headlessOpt = options.flag(
        QStringLiteral("headless"), QStringLiteral("No window: read console commands from standard input and "
                                                   "print every request received and event sent."));
    const QCommandLineOption exitOpt = options.flag(
        QStringLiteral("exit-on-closing"), QStringLiteral("After the closing event, end once every client has gone "
                                                          "(at most 3 seconds)."));
    const QCommandLineOption remoteOpt =
        options.flag(QStringLiteral("allow-remote"), QStringLiteral("Allow a TCP address other than loopback."));
    const QCommandLineOption delayOpt = options.value(
        QStringLiteral("answer-delay"), QStringLiteral("Milliseconds before a connect or disconnect is answered."),
        QStringLiteral("ms"));
    const QCommandLineOption tokenOpt = options.value(
        QStringLiteral("token-file"),
        QStringLiteral("TCP: the file with the token every client must send (made when "
                       "missing; default nodelink.token in the folder a systemd unit's StateDirectory= or "
                       "RuntimeDirectory= gives, else in Mirelva's settings folder)."),
        QStringLiteral("path"));
    const QCommandLineOption groupOpt = options.value(
        QStringLiteral("allow-group"), QStringLiteral("Unix socket: members of this group may attach too (repeatable)."),
        QStringLiteral("group"));
    // Read before any application exists, so that a mistyped command line is
    // reported as such even where no window could be opened.
    if (const std::optional<int> end = options.read(argc, argv))
        return *end;
    const bool headless = options.isSet(headlessOpt);

    QString why;
    std::optional<nodelink::NodeAddress> address;
    QString call;
    int delayMs = -1;
    if (!options.isSet(listenOpt)) {
        complain(QStringLiteral("--listen unix:PATH or --listen tcp:HOST:PORT is needed"));
        return 2;
    }
    address = nodelink::NodeAddress::parse(options.valueOf(listenOpt), &why);
    if (!address) {
        complain(QStringLiteral("--listen: ") + why);
        return 2;
    }
    call = options.valueOf(callOpt).trimmed();
    if (options.isSet(callOpt) && !NodeCommands::isCall(call.toUpper())) {
        complain(QStringLiteral("--callsign: \"%1\" is not a callsign").arg(call));
        return 2;
    }
    if (options.isSet(delayOpt)) {
        bool ok = false;
        delayMs = options.valueOf(delayOpt).toInt(&ok);
        if (!ok || delayMs < 0) {
            complain(QStringLiteral("--answer-delay: want milliseconds, 0 or more"));
            return 2;
        }
    }

    std::unique_ptr<QCoreApplication> app(headless ? new QCoreApplication(argc, argv) : new QApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("mirelva-node"));
    QCoreApplication::setApplicationVersion(versionText());

    SimulatedNode node;
    if (!call.isEmpty())
        node.setLocalStation(call);
    if (delayMs >= 0)
        node.setAnswerDelayMs(delayMs);

    NodeServer server(&node);
    server.setTokenFile(options.valueOf(tokenOpt));
    server.setAllowedGroups(options.valuesOf(groupOpt));
    if (!server.listen(*address, options.isSet(remoteOpt), &why)) {
        complain(why);
        return 1;
    }
    OnAirLog::note(QStringLiteral("node: %1 listening on %2").arg(node.state().localStation, server.address().toString()));

    if (headless) {
        printTraffic(&server);
        new StdinCommands(&node, app.get());
    }

    if (options.isSet(exitOpt)) {
        // The releases that answer closing are received and logged, as a
        // node that waits for its event handlers to return would. The server
        // heard Closing first (it was connected first) and has sent the line.
        QObject::connect(&node, &NodeBackend::Closing, app.get(), [&server] { server.quitOnceClientsLeave(); });
    }

    std::unique_ptr<NodeConsole> console;
    if (!headless) {
        console = std::make_unique<NodeConsole>(&node);
        console->setWindowTitle(QStringLiteral("mirelva-node %1 on %2")
                                    .arg(node.state().localStation, server.address().toString()));
        console->show();
    }

    quitOnSignals(*app);
    const int rc = app->exec();
    server.close();
    return rc;
}
