#pragma once

#include <functional>

#include <QString>

namespace mirelva::WebSite {

// Opens an address with the desktop's default handler (the operator's own
// web browser). Nothing is reported when it opens; otherwise one message says
// why it did not.
void OpenAddress(const QString &address);

// The desktop's answer to an open request, in the codes the messages are
// chosen by: above 32 it opened; 31 no handler for the address; 2 a file not
// found; 3 its folder not found; any other code up to 32 another failure.
int desktopOpen(const QString &address);

// Tests put a launcher of their own in place of the desktop.
using Launcher = std::function<int(const QString &address)>;
void setLauncherForTests(Launcher launcher);

} // namespace mirelva::WebSite
