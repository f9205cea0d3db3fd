// mirelva-svxlink: serves the node link to Mirelva and drives a real SvxLink,
// started as its child or already running. Its settings are svxlink.ini in
// Mirelva's settings folder; see docs/svxlink.md.

#include <QCoreApplication>
#include <QTimer>

#include "core/onairlog.h"
#include "core/programoptions.h"
#include "core/version.h"
#include "node/link/nodeprotocol.h"
#include "node/link/nodeserver.h"
#include "node/link/quitonsignals.h"
#include "node/svxlink/svxlinknode.h"

using namespace mirelva;

namespace {

void say(const QString &text) { OnAirLog::complain(QStringLiteral("mirelva-svxlink"), text); }

} // namespace

int main(int argc, char *argv[])
{
    ProgramOptions options(QStringLiteral("mirelva-svxlink"),
                           QStringLiteral("Serves Mirelva's node link and drives SvxLink. "
                                          "Settings: svxlink.ini in Mirelva's settings folder."));
    const QCommandLineOption prepareOpt = options.flag(
        QStringLiteral("prepare"), QStringLiteral("Lay out the bridge's folder (event handler and hook) and end; "
                                                  "for a SvxLink that is started on its own."));
    const QCommandLineOption traceOpt = options.traceOption(
        QStringLiteral("Print every line a client sends (\"request ...\") and every line sent to the clients "
                       "(\"event ...\") on standard output."));
    if (const std::optional<int> end = options.read(argc, argv))
        return *end;

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mirelva-svxlink"));
    QCoreApplication::setApplicationVersion(versionText());

    const SvxLinkConfig config = SvxLinkConfig::load();
    QString why;
    const std::optional<nodelink::NodeAddress> address = nodelink::NodeAddress::parse(config.listen, &why);
    if (!address) {
        say(QStringLiteral("svxlink.ini LISTEN: ") + why);
        return 2;
    }

    SvxLinkNode node(config);
    if (!node.prepare(&why)) {
        say(why);
        return 1;
    }
    if (options.isSet(prepareOpt)) {
        say(QStringLiteral("ready; svxlink.conf wants EVENT_HANDLER=%1").arg(node.eventHandlerPath()));
        return 0;
    }

    NodeServer server(&node);
    server.setTokenFile(config.tokenFile);
    server.setAllowedGroups(config.groups);
    if (!server.listen(*address, false, &why)) {
        say(why);
        return 1;
    }
    if (options.isSet(traceOpt))
        printTraffic(&server);
    OnAirLog::note(QStringLiteral("svxlink: %1 listening on %2").arg(config.callsign, server.address().toString()));

    // SvxLink ended: closing has gone to every client. A client answers it by
    // releasing PTT, DTR and RTS and going away; the bridge waits for that (at
    // most a few seconds) so the releases are read, then ends too.
    int exitCode = 0;
    QObject::connect(&node, &SvxLinkNode::finished, &app, [&server, &exitCode](int code) {
        exitCode = code;
        server.quitOnceClientsLeave();
    });

    if (!node.start(&why)) {
        say(why);
        return 1;
    }

    // Stopping the bridge stops the SvxLink it started, and the clients hear
    // closing; an attached bridge just goes.
    quitOnSignals(app, [&node, &config] {
        if (config.attach) {
            QCoreApplication::quit();
            return;
        }
        node.stop();
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::quit(); });
    });

    const int rc = app.exec();
    server.close();
    return rc != 0 ? rc : exitCode;
}
