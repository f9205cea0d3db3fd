#include "web/webconsole.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTextBlock>
#include <QUrlQuery>
#include <QWebSocket>

#include "announcer/mainwindow.h"
#include "core/nodebackend.h"
#include "core/onairlog.h"
#include "core/program.h"
#include "dtmf/dtmfwindow.h"
#include "greeting/greetingwindow.h"
#include "messagebox/messageboxwindow.h"
#include "web/webpassword.h"

namespace mirelva {

// Qt's server hands every request and every WebSocket to the console.
class WebHttpServer : public QAbstractHttpServer {
public:
    std::function<void(const QHttpServerRequest &, QHttpServerResponder &&)> handler;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        // Qt's server (6.4) turns a request it was told is handled into a
        // WebSocket afterwards: nothing must be written to it here. The
        // session is checked once it is one.
        for (const auto &h : request.headers())
            if (h.first.compare("Upgrade", Qt::CaseInsensitive) == 0 && h.second.compare("websocket", Qt::CaseInsensitive) == 0)
                return true;
        handler(request, makeResponder(request, socket));
        return true;
    }
    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}
};

namespace {

using Status = QHttpServerResponder::StatusCode;
using Headers = QList<QPair<QByteArray, QByteArray>>;

const QByteArray kCookie = "mirelva_session";

QByteArray header(const QHttpServerRequest &r, const QByteArray &name)
{
    for (const auto &h : r.headers())
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

QByteArray resource(const QString &name)
{
    QFile f(QStringLiteral(":/web/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray randomToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

bool sameToken(const QByteArray &a, const QByteArray &b)
{
    if (a.isEmpty() || a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

void reply(QHttpServerResponder &r, Status status, const QByteArray &type, const QByteArray &body,
           const QByteArray &host, const Headers &extra = {})
{
    r.writeStatusLine(status);
    r.writeHeader("Content-Type", type);
    r.writeHeader("Content-Length", QByteArray::number(body.size()));
    r.writeHeader("Cache-Control", "no-store");
    r.writeHeader("X-Content-Type-Options", "nosniff");
    r.writeHeader("X-Frame-Options", "DENY");
    // "no-referrer" would make the browser send "Origin: null" with the
    // page's own form posts.
    r.writeHeader("Referrer-Policy", "same-origin");
    // Everything the page needs comes from here; the WebSocket goes back to
    // the host the page came from.
    r.writeHeader("Content-Security-Policy",
                  "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; form-action 'self'; "
                  "frame-ancestors 'none'; base-uri 'none'; connect-src 'self' ws://"
                      + host + " wss://" + host);
    for (const auto &h : extra)
        r.writeHeader(h.first, h.second);
    r.writeBody(body);
}

void replyJson(QHttpServerResponder &r, Status status, const QJsonObject &o, const QByteArray &host)
{
    reply(r, status, "application/json", QJsonDocument(o).toJson(QJsonDocument::Compact), host);
}

QByteArray loginPage(const QString &message)
{
    QByteArray page = resource(QStringLiteral("login.html"));
    return page.replace("{{MESSAGE}}", message.toHtmlEscaped().toUtf8());
}

// A text typed on the page, as a box on the window would hold it: no
// control characters, trimmed, bounded.
QString cleanText(const QString &text, int maxChars)
{
    QString out;
    for (QChar c : text)
        if (c.category() != QChar::Other_Control)
            out.append(c);
    return MainWindow::boundedText(out.trimmed(), maxChars);
}

QJsonArray tail(QPlainTextEdit *box, int lines)
{
    QJsonArray out;
    if (!box)
        return out;
    QStringList texts;
    for (QTextBlock b = box->document()->lastBlock(); b.isValid() && texts.size() < lines; b = b.previous())
        texts.prepend(b.text());
    while (!texts.isEmpty() && texts.last().isEmpty())
        texts.removeLast();
    for (const QString &t : texts)
        out.append(t);
    return out;
}

QString hostOnly(const QByteArray &host)
{
    QString h = QString::fromLatin1(host).toLower();
    if (h.startsWith(QLatin1Char('['))) {
        const qsizetype end = h.indexOf(QLatin1Char(']'));
        return end > 0 ? h.mid(1, end - 1) : h;
    }
    const qsizetype colon = h.lastIndexOf(QLatin1Char(':'));
    return colon >= 0 ? h.left(colon) : h;
}

} // namespace

WebConsole::WebConsole(Station &station, WebSettings settings, QObject *parent)
    : QObject(parent), m_station(station), m_settings(std::move(settings))
{
    m_tick.setInterval(1000);
    m_tick.setTimerType(Qt::CoarseTimer);
    connect(&m_tick, &QTimer::timeout, this, [this] { sendChanges(); });
    connect(&OnAirLog::instance(), &OnAirLog::line, this, &WebConsole::onAirLine);
    if (m_station.node)
        connect(m_station.node, &NodeBackend::stateChanged, this, [this] { sendChanges(true); });
    if (m_station.main)
        connect(m_station.main->CallHistory, &QPlainTextEdit::textChanged, this,
                [this] { logChanged(QStringLiteral("history"), m_station.main->CallHistory); });
    if (m_station.messageBox)
        connect(m_station.messageBox->IncomingText, &QPlainTextEdit::textChanged, this,
                [this] { logChanged(QStringLiteral("chat"), m_station.messageBox->IncomingText); });
}

WebConsole::~WebConsole()
{
    for (Client &c : m_clients) {
        c.socket->disconnect(this);
        c.socket->abort();
        delete c.socket;
    }
}

std::unique_ptr<WebConsole> WebConsole::startLaterIfEnabled(Station &station)
{
    WebSettings settings = WebSettings::load();
    if (!settings.enabled)
        return nullptr;
    auto console = std::make_unique<WebConsole>(station, std::move(settings));
    QTimer::singleShot(0, console.get(), [c = console.get()] {
        QString why;
        if (c->start(&why))
            OnAirLog::note(QStringLiteral("web console: listening on %1").arg(c->url()));
        else
            OnAirLog::note(QStringLiteral("web console: not started: ") + why);
    });
    return console;
}

QString WebConsole::url() const
{
    QHostAddress a(m_settings.address);
    const QString host = a.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]").arg(a.toString())
                                                                        : a.toString();
    return QStringLiteral("%1://%2:%3/").arg(m_settings.tls() ? QStringLiteral("https") : QStringLiteral("http"), host)
        .arg(m_port);
}

bool WebConsole::start(QString *why)
{
    if (m_settings.passwordHash.isEmpty()) {
        *why = QStringLiteral("no password is set; run mirelva --set-web-password");
        return false;
    }
    const QHostAddress address(m_settings.address);
    if (address.isNull()) {
        *why = QStringLiteral("ADDRESS \"%1\" in web.ini is no IP address").arg(m_settings.address.left(60));
        return false;
    }
    if (!address.isLoopback() && !m_settings.tls()) {
        if (!m_settings.allowPlain) {
            *why = QStringLiteral("refused to listen on %1 without TLS: set CERTIFICATE and KEY in web.ini, or "
                                  "ALLOWPLAIN=1 to let the password cross the network readable")
                       .arg(address.toString());
            return false;
        }
        OnAirLog::note(QStringLiteral("web console: WARNING: listening on %1 without TLS, as ALLOWPLAIN=1 says: "
                                      "the password and the session cross the network readable")
                           .arg(address.toString()));
    }
    m_server = std::make_unique<WebHttpServer>();
    if (m_settings.tls()) {
        QFile certFile(m_settings.certificate), keyFile(m_settings.key);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            *why = QStringLiteral("cannot read CERTIFICATE %1 or KEY %2").arg(m_settings.certificate, m_settings.key);
            return false;
        }
        const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll(), QSsl::Pem);
        const QByteArray keyPem = keyFile.readAll();
        QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem);
        if (key.isNull())
            key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem);
        if (chain.isEmpty() || key.isNull()) {
            *why = QStringLiteral("CERTIFICATE or KEY holds no PEM certificate or key");
            return false;
        }
        m_server->sslSetup(chain.first(), key);
    }
    m_server->handler = [this](const QHttpServerRequest &r, QHttpServerResponder &&resp) { handle(r, std::move(resp)); };
    connect(m_server.get(), &QAbstractHttpServer::newWebSocketConnection, this, &WebConsole::acceptWebSocket);
    m_port = m_server->listen(address, quint16(m_settings.port));
    if (m_port == 0) {
        *why = QStringLiteral("cannot listen on %1 port %2 (in use?)").arg(address.toString()).arg(m_settings.port);
        m_server.reset();
        return false;
    }
    return true;
}

// ---- requests ---------------------------------------------------------------

QByteArray WebConsole::sessionOf(const QByteArray &cookieHeader) const
{
    for (const QByteArray &part : cookieHeader.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith(kCookie + '=')) {
            const QByteArray token = p.mid(kCookie.size() + 1);
            const auto it = m_sessions.find(token);
            if (it != m_sessions.end() && it->second.lastUse.secsTo(QDateTime::currentDateTimeUtc())
                                              < kSessionIdleHours * 3600)
                return token;
        }
    }
    return {};
}

bool WebConsole::originAllowed(const QByteArray &origin, const QByteArray &host) const
{
    if (origin.isEmpty())
        return false;
    const QString o = QString::fromLatin1(origin).toLower();
    if (m_settings.origins.contains(o))
        return true;
    const QString own = (m_settings.tls() ? QStringLiteral("https://") : QStringLiteral("http://"))
                        + QString::fromLatin1(host).toLower();
    if (o != own)
        return false;
    // A name that some other site's DNS could point here is no proof of
    // anything: only addresses and this machine's own names count.
    const QString name = hostOnly(host);
    const QString local = QHostInfo::localHostName().toLower();
    return !QHostAddress(name).isNull() || name == QLatin1String("localhost") || name == local
           || name == local + QStringLiteral(".local");
}

QByteArray WebConsole::newSession()
{
    if (m_sessions.size() >= size_t(kMostSessions)) {
        auto oldest = m_sessions.begin();
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        m_sessions.erase(oldest);
    }
    const QByteArray token = randomToken();
    m_sessions[token] = Session{randomToken(), QDateTime::currentDateTimeUtc()};
    return token;
}

void WebConsole::handle(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    const QString path = request.url().path();
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    const QByteArray host = header(request, "Host");
    const QByteArray session = sessionOf(header(request, "Cookie"));
    if (!session.isEmpty())
        m_sessions[session].lastUse = QDateTime::currentDateTimeUtc();

    if (get && (path == QLatin1String("/app.js") || path == QLatin1String("/app.css"))) {
        const QByteArray type = path.endsWith(QLatin1String(".js")) ? "text/javascript" : "text/css";
        reply(responder, Status::Ok, type, resource(path.mid(1)), host);
        return;
    }
    if (get && path == QLatin1String("/favicon.ico")) {
        reply(responder, Status::NoContent, "image/x-icon", {}, host);
        return;
    }
    if (get && path == QLatin1String("/")) {
        if (session.isEmpty())
            reply(responder, Status::SeeOther, "text/plain", "log in first\n", host, {{"Location", "/login"}});
        else
            reply(responder, Status::Ok, "text/html; charset=utf-8", resource(QStringLiteral("index.html")), host);
        return;
    }
    if (get && path == QLatin1String("/login")) {
        reply(responder, Status::Ok, "text/html; charset=utf-8", loginPage(QString()), host);
        return;
    }
    if (!post && !get) {
        reply(responder, Status::MethodNotAllowed, "text/plain", "not allowed\n", host);
        return;
    }

    // Everything below changes something or shows the station: it needs a
    // page of ours (Origin) and, but for the login itself, a session.
    if (post && !originAllowed(header(request, "Origin"), host)) {
        OnAirLog::note(QStringLiteral("web: refused a %1 request from another site (%2)")
                           .arg(path.left(40), request.remoteAddress().toString()));
        reply(responder, Status::Forbidden, "text/plain", "refused: this request did not come from the console's page\n",
              host);
        return;
    }
    if (post && path == QLatin1String("/login")) {
        login(request, responder);
        return;
    }
    if (session.isEmpty()) {
        replyJson(responder, Status::Unauthorized, {{QStringLiteral("error"), QStringLiteral("log in first")}}, host);
        return;
    }
    const Session &s = m_sessions[session];
    if (get && path == QLatin1String("/api/state")) {
        QJsonObject o = snapshot();
        o.insert(QStringLiteral("csrf"), QString::fromLatin1(s.csrf));
        replyJson(responder, Status::Ok, o, host);
        return;
    }
    if (post && (path == QLatin1String("/api/action") || path == QLatin1String("/logout"))) {
        QByteArray token = header(request, "X-CSRF-Token");
        if (token.isEmpty() && path == QLatin1String("/logout"))
            token = QUrlQuery(QString::fromUtf8(request.body())).queryItemValue(QStringLiteral("csrf")).toLatin1();
        if (!sameToken(token, s.csrf)) {
            OnAirLog::note(QStringLiteral("web: refused a request without the page's token (%1)")
                               .arg(request.remoteAddress().toString()));
            replyJson(responder, Status::Forbidden, {{QStringLiteral("error"), QStringLiteral("refused")}}, host);
            return;
        }
        if (path == QLatin1String("/logout")) {
            m_sessions.erase(session);
            for (const Client &c : m_clients)
                if (c.session == session)
                    c.socket->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("logged out"));
            OnAirLog::note(QStringLiteral("web: logged out (%1)").arg(request.remoteAddress().toString()));
            reply(responder, Status::SeeOther, "text/plain", "logged out\n", host,
                  {{"Location", "/login"}, {"Set-Cookie", kCookie + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"}});
            return;
        }
        if (request.body().size() > kMaxBodyBytes) {
            replyJson(responder, Status::PayloadTooLarge, {{QStringLiteral("error"), QStringLiteral("too long")}}, host);
            return;
        }
        const QString error =
            act(QJsonDocument::fromJson(request.body()).object(), request.remoteAddress().toString());
        if (error.isEmpty())
            replyJson(responder, Status::Accepted, {{QStringLiteral("ok"), true}}, host);
        else
            replyJson(responder, Status::BadRequest, {{QStringLiteral("error"), error}}, host);
        return;
    }
    reply(responder, Status::NotFound, "text/plain", "not found\n", host);
}

void WebConsole::login(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    const QByteArray host = header(request, "Host");
    const QString from = request.remoteAddress().toString();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // Addresses whose wait is long over are forgotten, so many of them
    // cannot make the list grow without end.
    if (m_failures.size() > 256)
        std::erase_if(m_failures, [&now](const auto &e) { return e.second.notBefore.secsTo(now) > 3600; });
    Failures &f = m_failures[from];
    if (f.notBefore.isValid() && now < f.notBefore) {
        const qint64 wait = std::max<qint64>(1, (now.msecsTo(f.notBefore) + 999) / 1000);
        reply(responder, Status::TooManyRequests, "text/html; charset=utf-8",
              loginPage(QStringLiteral("Too many wrong passwords. Try again in %1 seconds.").arg(wait)), host,
              {{"Retry-After", QByteArray::number(wait)}});
        return;
    }
    QByteArray body = request.body().left(kMaxBodyBytes);
    body.replace('+', ' ');
    const QString password =
        QUrlQuery(QString::fromUtf8(body)).queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded);
    // Read at each attempt: a password set anew counts without a restart.
    const QString stored = WebSettings::load().passwordHash;
    if (password.isEmpty() || !WebPassword::verify(password, stored)) {
        ++f.count;
        f.notBefore = now.addSecs(std::min(60, 2 << std::min(f.count - 1, 5)));
        OnAirLog::note(QStringLiteral("web: wrong password from %1").arg(from));
        reply(responder, Status::Unauthorized, "text/html; charset=utf-8",
              loginPage(QStringLiteral("Wrong password.")), host);
        return;
    }
    m_failures.erase(from);
    const QByteArray token = newSession();
    OnAirLog::note(QStringLiteral("web: logged in from %1").arg(from));
    QByteArray cookie = kCookie + '=' + token + "; Path=/; HttpOnly; SameSite=Strict";
    if (m_settings.tls() || header(request, "X-Forwarded-Proto") == "https")
        cookie += "; Secure";
    reply(responder, Status::SeeOther, "text/plain", "logged in\n", host, {{"Location", "/"}, {"Set-Cookie", cookie}});
}

// ---- the WebSocket ------------------------------------------------------------

void WebConsole::acceptWebSocket()
{
    while (m_server && m_server->hasPendingWebSocketConnections()) {
        QWebSocket *socket = m_server->nextPendingWebSocketConnection().release();
        const QNetworkRequest &r = socket->request();
        const QByteArray session = sessionOf(r.rawHeader("Cookie"));
        if (session.isEmpty() || !originAllowed(socket->origin().toLatin1(), r.rawHeader("Host"))) {
            OnAirLog::note(QStringLiteral("web: refused a live connection %1 (%2)")
                               .arg(session.isEmpty() ? QStringLiteral("without a session")
                                                      : QStringLiteral("from another site"),
                                    socket->peerAddress().toString()));
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("log in first"));
            socket->deleteLater();
            continue;
        }
        socket->setMaxAllowedIncomingMessageSize(kMaxBodyBytes);
        socket->setMaxAllowedIncomingFrameSize(kMaxBodyBytes);
        m_clients.push_back({socket, session});
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString &text) { webSocketMessage(socket, text); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            std::erase_if(m_clients, [socket](const Client &c) { return c.socket == socket; });
            socket->deleteLater();
            if (m_clients.empty())
                m_tick.stop();
        });
        QJsonObject hello = snapshot();
        hello.insert(QStringLiteral("type"), QStringLiteral("state"));
        hello.insert(QStringLiteral("csrf"), QString::fromLatin1(m_sessions[session].csrf));
        socket->sendTextMessage(QString::fromUtf8(QJsonDocument(hello).toJson(QJsonDocument::Compact)));
        if (m_clients.size() == 1) {
            m_sent = liveFields();
            m_tick.start();
        }
    }
}

void WebConsole::webSocketMessage(QWebSocket *socket, const QString &text)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(), [socket](const Client &c) { return c.socket == socket; });
    if (it == m_clients.end() || text.size() > kMaxBodyBytes)
        return;
    const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
    const auto session = m_sessions.find(it->session);
    QString error;
    if (session == m_sessions.end())
        error = QStringLiteral("log in first");
    else if (!sameToken(o.value(QStringLiteral("csrf")).toString().toLatin1(), session->second.csrf))
        error = QStringLiteral("refused");
    else
        error = act(o, socket->peerAddress().toString());
    QJsonObject result{{QStringLiteral("type"), QStringLiteral("result")}, {QStringLiteral("id"), o.value(QStringLiteral("id"))}};
    if (!error.isEmpty())
        result.insert(QStringLiteral("error"), error);
    socket->sendTextMessage(QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
}

// ---- live updates ---------------------------------------------------------------

void WebConsole::sendToAll(const QJsonObject &message, bool flush)
{
    if (m_clients.empty())
        return;
    const QString text = QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
    for (const Client &c : m_clients) {
        c.socket->sendTextMessage(text);
        // A keyed speech is about to hold the thread: the page hears of
        // the transmitter before, not after it.
        if (flush)
            c.socket->flush();
    }
}

void WebConsole::sendChanges(bool flush)
{
    if (m_clients.empty())
        return;
    const QJsonObject now = liveFields();
    QJsonObject changed{{QStringLiteral("type"), QStringLiteral("update")}};
    for (auto it = now.begin(); it != now.end(); ++it)
        if (m_sent.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    m_sent = now;
    if (changed.size() > 1)
        sendToAll(changed, flush);
}

void WebConsole::onAirLine(const QString &line)
{
    m_onAir.append(line);
    if (m_onAir.size() > kLogLines)
        m_onAir.removeFirst();
    // What the program asks of the transmitter shows at once; the node's
    // own word on it comes later, perhaps only after the speech.
    if (line.endsWith(QLatin1String("request SetPTT on")))
        m_pttAsked = true;
    else if (line.endsWith(QLatin1String("request SetPTT off")))
        m_pttAsked = false;
    sendToAll({{QStringLiteral("type"), QStringLiteral("lines")},
               {QStringLiteral("log"), QStringLiteral("onair")},
               {QStringLiteral("lines"), QJsonArray{line}}});
    sendChanges(true);
}

void WebConsole::logChanged(const QString &which, QPlainTextEdit *box)
{
    if (m_clients.empty())
        return;
    sendToAll({{QStringLiteral("type"), QStringLiteral("lines")},
               {QStringLiteral("log"), which},
               {QStringLiteral("reset"), true},
               {QStringLiteral("lines"), tail(box, kLogLines)}});
}

QJsonObject WebConsole::liveFields() const
{
    QJsonObject o;
    const NodeBackend *node = m_station.node;
    const MainWindow *m = m_station.main;
    o.insert(QStringLiteral("ptt"), m_pttAsked || (node && node->state().transmitterKeyed));
    o.insert(QStringLiteral("rx"), node && node->state().receivingSignal);
    o.insert(QStringLiteral("node"), node ? (node->online() ? node->describe() : node->describe() + QStringLiteral(" (offline)"))
                                          : QString());
    o.insert(QStringLiteral("callsign"), node ? node->state().localStation : QString());
    QJsonArray connected;
    if (node)
        for (const QString &c : node->state().connected)
            connected.append(c);
    o.insert(QStringLiteral("connected"), connected);
    if (!m)
        return o;
    o.insert(QStringLiteral("clock"), m->ShowTime->text());
    o.insert(QStringLiteral("silence"), m->Check1->value() == 1);
    if (m_station.greeting)
        o.insert(QStringLiteral("greeting"), m_station.greeting->UseGreeting->value() == 1);

    QJsonArray countdowns;
    auto add = [&countdowns](const QLabel *l) {
        if (l)
            countdowns.append(QJsonObject{{QStringLiteral("id"), l->objectName()},
                                          {QStringLiteral("label"), l->accessibleDescription()},
                                          {QStringLiteral("value"), l->text().trimmed()}});
    };
    for (const QLabel *l : {m->BeaconSeconds6, m->BeaconSeconds7, m->BeaconSeconds3, m->IDSeconds, m->FanSeconds,
                            m->DelaySeconds})
        add(l);
    if (const DtmfWindow *d = m_station.dtmf) {
        for (const QLabel *l : {d->BeaconSeconds, d->DTMFDelayPeriod, d->DiscPeriod1, d->DiscPeriod2, d->DiscPeriod3,
                                d->DiscPeriod4})
            add(l);
    }
    if (m_station.greeting)
        add(m_station.greeting->BeaconSecondsDelay);
    o.insert(QStringLiteral("countdowns"), countdowns);

    if (const DtmfWindow *d = m_station.dtmf) {
        const QStringList now = node ? node->state().connected : QStringList();
        auto entry = [&now](const TextBox *box) {
            const QString call = box->text().trimmed().toUpper();
            return QJsonObject{{QStringLiteral("call"), call},
                               {QStringLiteral("connected"), !call.isEmpty() && now.contains(call, Qt::CaseInsensitive)}};
        };
        QJsonArray stations;
        for (const TextBox *b : {d->Call1, d->Call2, d->Call3, d->Call4, d->Call5, d->Call6, d->Call7, d->Call8})
            stations.append(entry(b));
        o.insert(QStringLiteral("stations"), stations);
        QJsonArray groups;
        for (const auto &g : {std::array{d->GroupCall1, d->GroupCall2, d->GroupCall3},
                              std::array{d->GroupCall4, d->GroupCall5, d->GroupCall6}}) {
            QJsonArray calls;
            for (const TextBox *b : g)
                if (!b->text().trimmed().isEmpty())
                    calls.append(entry(b));
            groups.append(calls);
        }
        o.insert(QStringLiteral("groups"), groups);
    }
    return o;
}

QJsonObject WebConsole::snapshot() const
{
    QJsonObject o = liveFields();
    o.insert(QStringLiteral("history"), tail(m_station.main ? m_station.main->CallHistory : nullptr, kLogLines));
    o.insert(QStringLiteral("chat"), tail(m_station.messageBox ? m_station.messageBox->IncomingText : nullptr, kLogLines));
    o.insert(QStringLiteral("onair"), QJsonArray::fromStringList(m_onAir));
    return o;
}

// ---- actions --------------------------------------------------------------------

QString WebConsole::act(const QJsonObject &request, const QString &from)
{
    MainWindow *m = m_station.main;
    if (!m || !m->otherWindowsLoaded())
        return QStringLiteral("The station is still loading.");
    const QString action = request.value(QStringLiteral("action")).toString();
    const bool on = request.value(QStringLiteral("on")).toBool();
    const int n = request.value(QStringLiteral("n")).toInt();
    auto log = [&from](const QString &what) { OnAirLog::note(QStringLiteral("web: %1 (%2)").arg(what, from)); };
    // A button's handler may key the transmitter and hold the thread: it
    // runs once this request has been answered, and waits while the station
    // speaks, as a click does. A text goes into its box as the press comes,
    // so a press that waited says its own text, not a later request's.
    auto press = [this](QAbstractButton *button, QLineEdit *box = nullptr, const QString &text = {}) {
        Program::post(this, [b = QPointer<QAbstractButton>(button), box = QPointer<QLineEdit>(box), text] {
            if (box)
                box->setText(text);
            if (b)
                b->click();
        });
    };

    if (action == QLatin1String("speak") || action == QLatin1String("speakNoPtt")) {
        const QString text = cleanText(request.value(QStringLiteral("text")).toString(), kMaxSpeechChars);
        if (text.isEmpty())
            return QStringLiteral("Type a text to speak first.");
        const bool keyed = action == QLatin1String("speak");
        log(QStringLiteral("speak %1: %2").arg(keyed ? QStringLiteral("with PTT") : QStringLiteral("without PTT"), text));
        press(keyed ? m->Speak3 : m->TextNoPTT3, m->TextInput3, text);
    } else if (action == QLatin1String("time")) {
        log(QStringLiteral("say the time"));
        press(m->TheTime);
    } else if (action == QLatin1String("ident")) {
        log(QStringLiteral("voice ident now"));
        press(m->SayCall);
    } else if (action == QLatin1String("cw")) {
        log(QStringLiteral("Morse ident now"));
        press(m->SendCW);
    } else if (action == QLatin1String("silence")) {
        log(on ? QStringLiteral("silence on") : QStringLiteral("silence off"));
        m->Check1->setValue(on ? 1 : 0);
    } else if (action == QLatin1String("greeting")) {
        if (!m_station.greeting)
            return QStringLiteral("The greeting window is not loaded.");
        log(on ? QStringLiteral("greeting on") : QStringLiteral("greeting off"));
        m_station.greeting->UseGreeting->setValue(on ? 1 : 0);
    } else if (action == QLatin1String("chat")) {
        MessageBoxWindow *box = m_station.messageBox;
        if (!box)
            return QStringLiteral("The message box is not loaded.");
        const QString text = cleanText(request.value(QStringLiteral("text")).toString(), kMaxChatChars);
        if (text.isEmpty())
            return QStringLiteral("Type a chat text first.");
        log(QStringLiteral("chat text: ") + text);
        press(box->Send, box->TextTX, text);
    } else if (action == QLatin1String("station")) {
        DtmfWindow *d = m_station.dtmf;
        if (!d)
            return QStringLiteral("The DTMF window is not loaded.");
        const TextBox *calls[8] = {d->Call1, d->Call2, d->Call3, d->Call4, d->Call5, d->Call6, d->Call7, d->Call8};
        QPushButton *buttons[8] = {d->Command7, d->Command8, d->Command9, d->Command10,
                                   d->Command11, d->Command12, d->Command13, d->Command15};
        if (n < 1 || n > 8 || calls[n - 1]->text().trimmed().isEmpty())
            return QStringLiteral("No such station.");
        log(QStringLiteral("connect/disconnect station %1 (%2)").arg(n).arg(calls[n - 1]->text().trimmed().toUpper()));
        press(buttons[n - 1]);
    } else if (action == QLatin1String("group")) {
        DtmfWindow *d = m_station.dtmf;
        if (!d)
            return QStringLiteral("The DTMF window is not loaded.");
        if (n != 1 && n != 2)
            return QStringLiteral("No such group.");
        log(QStringLiteral("%1 group %2").arg(on ? QStringLiteral("connect") : QStringLiteral("disconnect")).arg(n));
        press(n == 1 ? (on ? d->Command3 : d->Command4) : (on ? d->Command5 : d->Command6));
    } else {
        return QStringLiteral("Unknown action.");
    }
    sendChanges();
    return {};
}

} // namespace mirelva
