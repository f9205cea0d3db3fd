#pragma once

#include <QWidget>

#include "node/simulatednode.h"

namespace mirelva {

// Placeholder until the console lands.
class NodeConsole : public QWidget {
    Q_OBJECT
public:
    explicit NodeConsole(SimulatedNode *node, QWidget *parent = nullptr) : QWidget(parent), m_node(node) {}
    void placeBeside(QWidget *) {}

private:
    SimulatedNode *m_node;
};

} // namespace mirelva
