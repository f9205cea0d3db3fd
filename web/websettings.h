#pragma once

#include <QString>
#include <QStringList>

namespace mirelva {

// web.ini, section [SETTINGS]: the web console. Off unless ENABLED=1.
//   ENABLED      1: serve the console once the windows are loaded
//   ADDRESS      address to listen on, default 127.0.0.1 (this machine only)
//   PORT         default 8073
//   CERTIFICATE  PEM certificate (chain) file; with KEY the console speaks HTTPS only
//   KEY          PEM private key file of the certificate
//   ALLOWPLAIN   1: listen beyond this machine without TLS (a warning goes to the log)
//   ORIGINS      comma-separated origins the browser may come from besides this
//                machine's own names, e.g. https://shack.example.org behind a proxy
//   PROXIES      comma-separated addresses of reverse proxies whose
//                X-Forwarded-For names the browser (for the slowing of wrong passwords)
//   PASSWORD     written by `mirelva --set-web-password`: a salted PBKDF2 hash
struct WebSettings {
    bool enabled = false;
    QString address = QStringLiteral("127.0.0.1");
    int port = kDefaultPort;
    QString certificate;
    QString key;
    bool allowPlain = false;
    QStringList origins;
    QStringList proxies;
    QString passwordHash;

    static constexpr int kDefaultPort = 8073;
    static constexpr int kCapacity = 512;
    static QString fileName() { return QStringLiteral("web.ini"); }
    static WebSettings load();
    bool tls() const { return !certificate.isEmpty() && !key.isEmpty(); }
};

} // namespace mirelva
