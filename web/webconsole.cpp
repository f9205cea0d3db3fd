#include "web/webconsole.h"

#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QPointer>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslKey>
#include <QUrlQuery>
#include <QWebSocket>

#include "core/clock.h"
#include "core/onairlog.h"
#include "web/minutelog.h"
#include "web/weblogin.h"
#include "web/webpassword.h"

namespace mirelva {

namespace {

using Status = HttpStatus;
using Headers = HttpHeaders;

const QByteArray kCookie = "mirelva_session";


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

// Every answer carries the console's policy headers (WebFront::commonHeaders).
void reply(HttpReply &r, Status status, const QByteArray &type, const QByteArray &body, const Headers &extra = {})
{
    r.send(status, type, body, extra);
}

void replyJson(HttpReply &r, Status status, const QJsonObject &o)
{
    reply(r, status, "application/json", QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QByteArray loginPage(const QString &message)
{
    QByteArray page = resource(QStringLiteral("login.html"));
    return page.replace("{{MESSAGE}}", message.toHtmlEscaped().toUtf8());
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

WebConsole::WebConsole(StationPort &station, WebSettings settings, QObject *parent)
    : QObject(parent), m_station(station), m_settings(std::move(settings)),
      m_refusals(new MinuteLog(QStringLiteral("refused requests"), this))
{
    m_tick.setInterval(1000);
    m_tick.setTimerType(Qt::CoarseTimer);
    connect(&m_tick, &QTimer::timeout, this, [this] { sendChanges(); });
    connect(&OnAirLog::instance(), &OnAirLog::line, this, &WebConsole::onAirLine);
    connect(&m_station, &StationPort::settingsSaved, this, [this](const QString &window) {
        sendToAll({{QStringLiteral("type"), QStringLiteral("settings")}, {QStringLiteral("window"), window}});
    });
    connect(&m_station, &StationPort::liveChanged, this, [this](bool urgent) { sendChanges(urgent); });
    connect(&m_station, &StationPort::logChanged, this, &WebConsole::logChanged);
    // A screen reader on the page hears who came and went, and what they said.
    connect(&m_station, &StationPort::tell, this, &WebConsole::announce);
}

WebConsole::~WebConsole()
{
    for (Client &c : m_clients) {
        c.socket->disconnect(this);
        c.socket->abort();
        delete c.socket;
    }
}

std::unique_ptr<WebConsole> WebConsole::startLaterIfEnabled(StationPort &station)
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
    m_front = std::make_unique<WebFront>();
    std::optional<QSslConfiguration> tls;
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
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.setLocalCertificateChain(chain);
        c.setPrivateKey(key);
        c.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls = c;
    }
    // A request without a session may send a login or an action, no more.
    m_front->bodyLimit = [this](const HttpRequest &head) -> qint64 {
        return sessionOf(head.header("Cookie")).isEmpty() ? kMaxBodyBytes : kMaxSessionBodyBytes;
    };
    m_front->onRequest = [this](const HttpRequest &r, HttpReply answer) { handle(r, std::move(answer)); };
    m_front->admitWebSocket = [this](const HttpRequest &head) {
        const bool session = !sessionOf(head.header("Cookie")).isEmpty();
        const bool ours = originAllowed(head.header("Origin"), head.header("Host"));
        if (session && ours && head.path() == QLatin1String("/ws") && m_clients.size() < size_t(kMostLiveConnections))
            return true;
        m_refusals->note(QStringLiteral("web: refused a live connection %1 (%2)")
                             .arg(!session ? QStringLiteral("without a session")
                                  : !ours  ? QStringLiteral("from another site")
                                           : QStringLiteral("beyond the console's limit"),
                                  head.peer.toString()),
                         head.peer.toString());
        return false;
    };
    connect(m_front.get(), &WebFront::webSocket, this, &WebConsole::acceptWebSocket);
    if (!m_front->listen(address, quint16(m_settings.port), tls)) {
        *why = QStringLiteral("cannot listen on %1 port %2 (in use?)").arg(address.toString()).arg(m_settings.port);
        m_front.reset();
        return false;
    }
    m_port = m_front->port();
    m_front->commonHeaders = policyHeaders();
    if (!m_login)
        m_login = new WebLogin(this);
    m_front->makeRoom = [this] { return m_login->giveWayOnce(); };
    return true;
}

HttpHeaders WebConsole::policyHeaders() const
{
    // Where the page's WebSocket may go: the console's own address and the
    // origins web.ini names, never what a request says its host is.
    QStringList sockets;
    const QUrl own(url());
    sockets << QStringLiteral("ws://%1").arg(own.authority()) << QStringLiteral("wss://%1").arg(own.authority());
    for (const QString &o : m_settings.origins) {
        const QUrl u(o);
        if (u.isValid() && !u.host().isEmpty() && (u.scheme() == QLatin1String("http") || u.scheme() == QLatin1String("https")))
            sockets << (u.scheme() == QLatin1String("https") ? QStringLiteral("wss://") : QStringLiteral("ws://")) + u.authority();
    }
    sockets.removeDuplicates();
    return {
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        // "no-referrer" would make the browser send "Origin: null" with the
        // page's own form posts.
        {"Referrer-Policy", "same-origin"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; form-action 'self'; "
         "frame-ancestors 'none'; base-uri 'none'; connect-src 'self' "
             + sockets.join(QLatin1Char(' ')).toLatin1()},
    };
}

QHostAddress WebConsole::clientOf(const HttpRequest &request) const
{
    QHostAddress peer = request.peer;
    if (peer.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const QHostAddress v4(peer.toIPv4Address(&mapped));
        if (mapped)
            peer = v4;
    }
    auto trusted = [this](const QHostAddress &a) {
        return std::any_of(m_settings.proxies.begin(), m_settings.proxies.end(),
                           [&a](const QString &p) { return QHostAddress(p).isEqual(a, QHostAddress::TolerantConversion); });
    };
    if (!trusted(peer))
        return peer;
    // The proxy adds the address it heard from at the end; what comes before
    // it is whatever the browser sent.
    const QList<QByteArray> hops = request.header("X-Forwarded-For").split(',');
    for (qsizetype i = hops.size() - 1; i >= 0; --i) {
        const QHostAddress hop(QString::fromLatin1(hops[i].trimmed()));
        if (hop.isNull())
            return peer;
        if (!trusted(hop))
            return hop;
    }
    return peer;
}

// ---- requests ---------------------------------------------------------------

QByteArray WebConsole::sessionOf(const QByteArray &cookieHeader) const
{
    for (const QByteArray &part : cookieHeader.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith(kCookie + '=')) {
            const QByteArray token = p.mid(kCookie.size() + 1);
            const auto it = m_sessions.find(token);
            if (it != m_sessions.end() && it->second.lastUse.secsTo(Clock::now())
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
    m_sessions[token] = Session{randomToken(), Clock::now()};
    return token;
}

void WebConsole::handle(const HttpRequest &request, HttpReply responder)
{
    const QString path = request.path();
    const bool post = request.isPost();
    const bool get = request.isGet();
    const QByteArray host = request.header("Host");
    const QByteArray session = sessionOf(request.header("Cookie"));
    if (!session.isEmpty())
        m_sessions[session].lastUse = Clock::now();

    if (get && (path == QLatin1String("/app.js") || path == QLatin1String("/app.css")
                || path == QLatin1String("/settings.js"))) {
        const QByteArray type = path.endsWith(QLatin1String(".js")) ? "text/javascript" : "text/css";
        reply(responder, Status::Ok, type, resource(path.mid(1)));
        return;
    }
    if (get && path == QLatin1String("/favicon.ico")) {
        reply(responder, Status::NoContent, "image/x-icon", {});
        return;
    }
    if (get && path == QLatin1String("/")) {
        if (session.isEmpty())
            reply(responder, Status::SeeOther, "text/plain", "log in first\n", {{"Location", "/login"}});
        else
            reply(responder, Status::Ok, "text/html; charset=utf-8", resource(QStringLiteral("index.html")));
        return;
    }
    if (get && path == QLatin1String("/login")) {
        reply(responder, Status::Ok, "text/html; charset=utf-8", loginPage(QString()));
        return;
    }
    if (!post && !get) {
        reply(responder, Status::MethodNotAllowed, "text/plain", "not allowed\n");
        return;
    }

    // Everything below changes something or shows the station: it needs a
    // page of ours (Origin) and, but for the login itself, a session.
    if (post && !originAllowed(request.header("Origin"), host)) {
        const QString from = clientOf(request).toString();
        m_refusals->note(QStringLiteral("web: refused a %1 request from another site (%2)").arg(path.left(40), from),
                         from);
        reply(responder, Status::Forbidden, "text/plain", "refused: this request did not come from the console's page\n");
        return;
    }
    if (post && path == QLatin1String("/login")) {
        login(request, std::move(responder));
        return;
    }
    if (session.isEmpty()) {
        replyJson(responder, Status::Unauthorized, {{QStringLiteral("error"), QStringLiteral("log in first")}});
        return;
    }
    const Session &s = m_sessions[session];
    if (get && path == QLatin1String("/api/state")) {
        QJsonObject o = snapshot();
        o.insert(QStringLiteral("csrf"), QString::fromLatin1(s.csrf));
        replyJson(responder, Status::Ok, o);
        return;
    }
    if (get && path == QLatin1String("/api/settings")) {
        replyJson(responder, Status::Ok, m_station.describeSettings());
        return;
    }
    if (post && (path == QLatin1String("/api/action") || path == QLatin1String("/api/settings")
                 || path == QLatin1String("/logout"))) {
        QByteArray token = request.header("X-CSRF-Token");
        if (token.isEmpty() && path == QLatin1String("/logout"))
            token = QUrlQuery(QString::fromUtf8(request.body)).queryItemValue(QStringLiteral("csrf")).toLatin1();
        if (!sameToken(token, s.csrf)) {
            const QString from = clientOf(request).toString();
            m_refusals->note(QStringLiteral("web: refused a request without the page's token (%1)").arg(from), from);
            replyJson(responder, Status::Forbidden, {{QStringLiteral("error"), QStringLiteral("refused")}});
            return;
        }
        if (path == QLatin1String("/logout")) {
            m_sessions.erase(session);
            for (const Client &c : m_clients)
                if (c.session == session)
                    c.socket->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("logged out"));
            OnAirLog::note(QStringLiteral("web: logged out (%1)").arg(clientOf(request).toString()));
            reply(responder, Status::SeeOther, "text/plain", "logged out\n",
                  {{"Location", "/login"}, {"Set-Cookie", kCookie + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"}});
            return;
        }
        if (request.body.size()
            > (path == QLatin1String("/api/settings") ? kMaxSessionBodyBytes : kMaxBodyBytes)) {
            replyJson(responder, Status::PayloadTooLarge, {{QStringLiteral("error"), QStringLiteral("too long")}});
            return;
        }
        if (path == QLatin1String("/api/settings")) {
            // Answered once the change has had its turn, after any
            // announcement on air now.
            QPointer<WebConsole> self(this);
            saveSettings(QJsonDocument::fromJson(request.body).object(), clientOf(request).toString(),
                         [self, responder](const StationPort::Outcome &out) mutable {
                             replyJson(responder, Status(out.status), out.body);
                             if (self)
                                 self->sendChanges();
                         });
            return;
        }
        const QString error =
            act(QJsonDocument::fromJson(request.body).object(), clientOf(request).toString());
        if (error.isEmpty())
            replyJson(responder, Status::Accepted, {{QStringLiteral("ok"), true}});
        else
            replyJson(responder, Status::BadRequest, {{QStringLiteral("error"), error}});
        return;
    }
    reply(responder, Status::NotFound, "text/plain", "not found\n");
}

void WebConsole::login(const HttpRequest &request, HttpReply responder)
{
    const QHostAddress client = clientOf(request);
    const QString from = client.toString();
    const QString shown = client == request.peer ? from : from + QStringLiteral(" via ") + request.peer.toString();
    QByteArray body = request.body.left(kMaxBodyBytes);
    body.replace('+', ' ');
    const QString password =
        QUrlQuery(QString::fromUtf8(body)).queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded);
    // Read at each attempt: a password set anew counts without a restart.
    const QString stored = WebSettings::load().passwordHash;
    const bool secure = m_settings.tls() || request.header("X-Forwarded-Proto") == "https";
    QPointer<WebConsole> self(this);
    m_login->submit(from, shown, password, stored, [self, responder, shown, secure](WebLogin::Outcome outcome) mutable {
        if (!self)
            return;
        if (outcome == WebLogin::Outcome::Busy) {
            reply(responder, Status::TooManyRequests, "text/html; charset=utf-8",
                  loginPage(QStringLiteral("Too many attempts at once. Try again in a minute.")), {{"Retry-After", "60"}});
            return;
        }
        if (outcome == WebLogin::Outcome::Wrong) {
            reply(responder, Status::Unauthorized, "text/html; charset=utf-8", loginPage(QStringLiteral("Wrong password.")));
            return;
        }
        const QByteArray token = self->newSession();
        OnAirLog::note(QStringLiteral("web: logged in from %1").arg(shown));
        QByteArray cookie = kCookie + '=' + token + "; Path=/; HttpOnly; SameSite=Strict";
        if (secure)
            cookie += "; Secure";
        reply(responder, Status::SeeOther, "text/plain", "logged in\n", {{"Location", "/"}, {"Set-Cookie", cookie}});
    });
}

// ---- the WebSocket ------------------------------------------------------------

void WebConsole::acceptWebSocket(QWebSocket *socket)
{
    const QNetworkRequest &r = socket->request();
    const QByteArray session = sessionOf(r.rawHeader("Cookie"));
    if (session.isEmpty() || !originAllowed(socket->origin().toLatin1(), r.rawHeader("Host"))) {
        m_refusals->note(QStringLiteral("web: refused a live connection %1 (%2)")
                             .arg(session.isEmpty() ? QStringLiteral("without a session")
                                                    : QStringLiteral("from another site"),
                                  socket->peerAddress().toString()),
                         socket->peerAddress().toString());
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("log in first"));
        socket->deleteLater();
        return;
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
    m_logShown[QStringLiteral("history")] = m_station.logLines(QStringLiteral("history"), kLogLines);
    m_logShown[QStringLiteral("chat")] = m_station.logLines(QStringLiteral("chat"), kLogLines);
    hello.insert(QStringLiteral("type"), QStringLiteral("state"));
    hello.insert(QStringLiteral("csrf"), QString::fromLatin1(m_sessions[session].csrf));
    sendTo(socket, QString::fromUtf8(QJsonDocument(hello).toJson(QJsonDocument::Compact)));
    if (m_clients.size() == 1) {
        m_sent = liveFields();
        m_tick.start();
    }
}

void WebConsole::webSocketMessage(QWebSocket *socket, const QString &text)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(), [socket](const Client &c) { return c.socket == socket; });
    if (it == m_clients.end() || text.size() > kMaxBodyBytes)
        return;
    Client &c = *it;
    const qint64 second = Clock::nowMs() / 1000;
    if (second != c.second) {
        const bool overLast = c.inSecond > kMostMessagesASecond;
        c.floodSeconds = overLast ? (second == c.second + 1 ? c.floodSeconds + 1 : 1) : 0;
        c.second = second;
        c.inSecond = 0;
    }
    if (++c.inSecond > kMostMessagesASecond) {
        ++c.dropped;
        if (c.floodSeconds >= kMostFloodSeconds) {
            const QString from = socket->peerAddress().toString();
            m_refusals->note(QStringLiteral("web: closed a live connection sending too many messages, %1 dropped (%2)")
                                 .arg(c.dropped)
                                 .arg(from),
                             from);
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("too many messages"));
            // Nothing more of it is read; its closing ends it.
            socket->disconnect(this, nullptr);
            std::erase_if(m_clients, [socket](const Client &k) { return k.socket == socket; });
            socket->deleteLater();
            if (m_clients.empty())
                m_tick.stop();
        }
        return;
    }
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
    sendTo(socket, QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
}

void WebConsole::sendTo(QWebSocket *socket, const QString &text, bool flush)
{
    // A page that reads nothing (or a client that pings and never takes
    // the answers) would have its messages pile up here without end. What
    // counts is what is still unsent from before: one message, however
    // long (a first state with long chat lines), never closes a page.
    if (socket->bytesToWrite() > kMostUnsentBytes) {
        socket->abort();
        return;
    }
    socket->sendTextMessage(text);
    // A keyed speech is about to hold the thread: the page hears of the
    // transmitter before, not after it.
    if (flush)
        socket->flush();
}

// ---- live updates ---------------------------------------------------------------

void WebConsole::sendToAll(const QJsonObject &message, bool flush)
{
    if (m_clients.empty())
        return;
    const QString text = QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
    // A client closed on the way leaves the list as it goes.
    std::vector<QPointer<QWebSocket>> sockets;
    for (const Client &c : m_clients)
        sockets.emplace_back(c.socket);
    for (const QPointer<QWebSocket> &socket : sockets)
        if (socket)
            sendTo(socket, text, flush);
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

void WebConsole::logChanged(const QString &which)
{
    if (m_clients.empty())
        return;
    // The pages are sent the lines added since, so a screen reader reads the
    // new line alone; anything but an addition at the end (a cleared box)
    // replaces the page's lines.
    const QStringList now = m_station.logLines(which, kLogLines);
    QStringList &shown = m_logShown[which];
    if (now == shown)
        return;
    qsizetype kept = -1;
    for (qsizetype from = 0; from <= shown.size() && kept < 0; ++from) {
        const qsizetype overlap = shown.size() - from;
        if (overlap <= now.size() && overlap > 0 && std::equal(shown.begin() + from, shown.end(), now.begin()))
            kept = overlap;
    }
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("lines")}, {QStringLiteral("log"), which}};
    if (kept > 0 && now.size() > kept) {
        message.insert(QStringLiteral("lines"), QJsonArray::fromStringList(now.mid(kept)));
    } else {
        message.insert(QStringLiteral("reset"), true);
        message.insert(QStringLiteral("lines"), QJsonArray::fromStringList(now));
    }
    shown = now;
    sendToAll(message);
}

void WebConsole::announce(const QString &words)
{
    sendToAll({{QStringLiteral("type"), QStringLiteral("announce")}, {QStringLiteral("text"), OnAirLog::escaped(words)}});
}

QJsonObject WebConsole::liveFields() const
{
    QJsonObject o = m_station.liveValues();
    // What the program asked of the transmitter shows before the node's word.
    if (m_pttAsked)
        o.insert(QStringLiteral("ptt"), true);
    return o;
}

QJsonObject WebConsole::snapshot() const
{
    QJsonObject o = liveFields();
    o.insert(QStringLiteral("history"), QJsonArray::fromStringList(m_station.logLines(QStringLiteral("history"), kLogLines)));
    o.insert(QStringLiteral("chat"), QJsonArray::fromStringList(m_station.logLines(QStringLiteral("chat"), kLogLines)));
    o.insert(QStringLiteral("onair"), QJsonArray::fromStringList(m_onAir));
    return o;
}

// ---- actions --------------------------------------------------------------------

QString WebConsole::act(const QJsonObject &request, const QString &from)
{
    if (!m_station.ready())
        return QStringLiteral("The station is still loading.");
    const QString error = m_station.run(request.value(QStringLiteral("action")).toString(), request, from);
    if (error.isEmpty())
        sendChanges();
    return error;
}

void WebConsole::saveSettings(const QJsonObject &request, const QString &from,
                              std::function<void(const StationPort::Outcome &)> done)
{
    const auto refuse = [&done](int status, const QString &error) {
        done({status, {{QStringLiteral("error"), error}}});
    };
    if (!m_station.ready())
        return refuse(503, QStringLiteral("The station is still loading."));
    QList<StationPort::Change> changes;
    for (const QJsonValue &v : request.value(QStringLiteral("changes")).toArray()) {
        const QJsonObject c = v.toObject();
        if (!c.value(QStringLiteral("key")).isString() || !c.value(QStringLiteral("value")).isString()
            || !c.value(QStringLiteral("was")).isString())
            return refuse(400, QStringLiteral("No such setting: %1.").arg(c.value(QStringLiteral("key")).toString().left(40)));
        changes.append({c.value(QStringLiteral("key")).toString(), c.value(QStringLiteral("value")).toString(),
                        c.value(QStringLiteral("was")).toString()});
    }
    m_station.changeSettings(request.value(QStringLiteral("window")).toString(), changes, from, std::move(done));
}

} // namespace mirelva
