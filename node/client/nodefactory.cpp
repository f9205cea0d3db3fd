#include "node/client/nodefactory.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include "node/client/nodelink.h"
#include "node/link/nodeprotocol.h"
#include "node/simulated/simulatednode.h"

namespace mirelva {

std::unique_ptr<NodeBackend> makeNodeBackend(const NodeLinkConfig &config)
{
    if (config.address.trimmed().isEmpty())
        return std::make_unique<SimulatedNode>();
    QString why;
    const std::optional<nodelink::NodeAddress> address = nodelink::NodeAddress::parse(config.address, &why);
    if (!address) {
        const QByteArray line = QStringLiteral("mirelva: nodelink.ini ADDRESS: %1; using the built-in simulated node\n")
                                    .arg(why)
                                    .toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
        return std::make_unique<SimulatedNode>();
    }
    auto link = std::make_unique<NodeLinkClient>(*address);
    link->setTokenFile(config.tokenFile);
    link->start();
    return link;
}

bool waitForFirstState(NodeBackend *node, int timeoutMs)
{
    if (!node)
        return false;
    if (node->online())
        return true;
    // Turns of the event loop rather than a nested QEventLoop: a loop's exec()
    // returns at once once the application has been told to exit, and the
    // wait must still be bounded then.
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(timeoutMs);
    while (!node->online() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return node->online();
}

} // namespace mirelva
