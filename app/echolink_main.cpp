// mirelva-echolink: Mirelva's own EchoLink node. It logs in to the EchoLink
// directory, connects and accepts stations, carries chat, and drives the
// radio's audio, serving the node link to Mirelva. Its settings are
// echolink.ini in Mirelva's settings folder; see docs/echolink.md.

#include <QCoreApplication>
#include <QTimer>

#include "core/onairlog.h"
#include "core/programoptions.h"
#include "core/version.h"
#include "node/echolink/echolinknode.h"
#include "node/link/nodeprotocol.h"
#include "node/link/nodeserver.h"
#include "node/link/quitonsignals.h"

using namespace mirelva;

namespace {

void complain(const QString &text) { OnAirLog::complain(QStringLiteral("mirelva-echolink"), text); }

} // namespace

int main(int argc, char *argv[])
{
    ProgramOptions options(QStringLiteral("mirelva-echolink"),
                           QStringLiteral("Mirelva's EchoLink node: serves Mirelva's node link. "
                                          "Settings: echolink.ini in Mirelva's settings folder."));
    const QCommandLineOption checkOpt = options.flag(
        QStringLiteral("check"), QStringLiteral("Read echolink.ini, say what is wrong in it, and end "
                                                "(exit status 0 when the node could start)."));
    const QCommandLineOption traceOpt = options.traceOption(
        QStringLiteral("Print every line a client sends (\"request ...\"), every line sent to the clients "
                       "(\"event ...\") and the VOX's level of the receiver's audio (\"vox -42.0 dBFS\") on "
                       "standard output."));
    if (const std::optional<int> end = options.read(argc, argv))
        return *end;

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mirelva-echolink"));
    QCoreApplication::setApplicationVersion(versionText());

    const EchoLinkConfig config = EchoLinkConfig::load();
    for (const QString &p : config.problems)
        complain(p);
    if (!config.refusal.isEmpty()) {
        complain(config.refusal);
        return 2;
    }
    QString why;
    const std::optional<nodelink::NodeAddress> address = nodelink::NodeAddress::parse(config.listen, &why);
    if (!address) {
        complain(QStringLiteral("echolink.ini LISTEN: ") + why);
        return 2;
    }
    if (options.isSet(checkOpt))
        return 0;

    int exitCode = 0;
    {
        EchoLinkNode node(config);
        if (!node.start(&why)) {
            complain(why);
            return 1;
        }
        NodeServer server(&node);
        if (!server.listen(*address, false, &why)) {
            complain(why);
            return 1;
        }
        if (options.isSet(traceOpt)) {
            printTraffic(&server);
            // For setting VOXTHRESHOLD: the receiver's level as the VOX hears it.
            QObject::connect(&node, &EchoLinkNode::voxMeter, &server, [](double dbfs) {
                printTraceLine("vox ", QByteArray::number(dbfs, 'f', 1) + " dBFS");
            });
        }
        OnAirLog::note(QStringLiteral("echolink: node link on %1").arg(server.address().toString()));

        // Closing has gone to every client; each answers by releasing PTT,
        // DTR and RTS and going away. The node waits for that (at most a few
        // seconds) so the releases are read, then ends.
        QObject::connect(&node, &EchoLinkNode::finished, &app, [&server] { server.quitOnceClientsLeave(); });
        quitOnSignals(app, [&node] { node.stop(); });

        exitCode = app.exec();
        server.close();
    }
    return exitCode;
}
