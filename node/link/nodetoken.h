#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

namespace mirelva::nodelink {

// The shared secret a node on a TCP port demands in the client's hello: a
// token file readable by its owner only, made by the node, read by Mirelva.

// nodelink.token in Mirelva's settings folder: where both sides look unless
// told otherwise.
QString defaultTokenFile();

// Where a node program makes its token unless told: nodelink.token in the
// folder its service manager lets it write ($STATE_DIRECTORY, kept across
// restarts, else $RUNTIME_DIRECTORY, as systemd sets them for StateDirectory=
// and RuntimeDirectory=; the first folder of each), else defaultTokenFile().
// A unit makes the settings folder read-only (ProtectSystem=strict).
QString nodeTokenFile();

// The node's side: the token in the file, or a new one in a new file (mode
// 0600) when there is none. A file that is a symlink, is not ours, may be
// read by others, or holds no token is refused, with why in *error.
std::optional<QByteArray> loadOrCreateToken(const QString &path, QString *error);

// The client's side: the token in the file; nothing, with why, when it
// cannot be read or holds no token.
std::optional<QByteArray> readToken(const QString &path, QString *error);

} // namespace mirelva::nodelink
