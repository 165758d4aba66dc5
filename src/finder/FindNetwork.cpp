// The network calls of Find on Qt Network: SRV and MX through QDnsLookup;
// https and probes through QSslSocket with the system's trust store. A GET
// is one request on a connection of its own: QNetworkAccessManager's thread,
// cache and queue cost more than the request itself. A search looks each
// host name up once, however many of its calls connect there.

#include "finder/FindNetwork.h"
#include "mail/HttpAnswer.h"

#include <QDnsLookup>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QPointer>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace
{

// A greeting or reply line longer than this is no mail server's.
constexpr qsizetype MaxLine = 4096;
constexpr int MaxRedirects = 3;
// How long a connection to a server has it to itself before the next call
// to the same address starts anyway (one that stalls holds up no other).
constexpr int HeadStartMs = 250;

// The calls waiting to connect to one address, by the order they were made
// in: the first comes first, and one that answers ends the search before a
// later one costs the server a handshake.
struct TTurns
{
    bool Busy = false;
    std::map<std::uint64_t, std::function<void()>> Waiting;
};

void PassTurn(const std::shared_ptr<TTurns>& turns)
{
    if (turns->Waiting.empty())
    {
        turns->Busy = false;
        return;
    }
    auto next = std::move(turns->Waiting.begin()->second);
    turns->Waiting.erase(turns->Waiting.begin());
    next();
}

class TQtFindNetwork final : public IFindNetwork
{
public:
    ~TQtFindNetwork() override
    {
        Cancel();
        // Sockets go before the module that made them can be unloaded.
        for (const QPointer<QObject>& call : Dropped)
            delete call.data();
    }

    void Fetch(const std::string& url, std::size_t maxBytes, int timeLimitMs,
               std::function<void(TFetchAnswer)> done) override;
    void LookupSrv(const std::string& name, int timeLimitMs, std::function<void(TDnsAnswer)> done) override;
    void LookupMx(const std::string& domain, int timeLimitMs, std::function<void(TDnsAnswer)> done) override;
    void Probe(const TProbeAsk& ask, int timeLimitMs, std::function<void(TProbeAnswer)> done) override;

    void Cancel() override
    {
        // Cancel may run inside a signal of a call's own socket or reply:
        // the handlers go at once, the objects on the next turn of the loop.
        const QObjectList calls = Calls.children();
        for (QObject* call : calls)
            Drop(call);
        // The next search asks afresh; lookups under way fill only their own entries.
        Names.clear();
        Turns.clear();
    }

private:
    // One call: owns its network objects and a time limit, and answers once.
    template <typename TAnswer>
    QObject* NewCall(int timeLimitMs, std::function<void(TAnswer)> done,
                     std::shared_ptr<std::function<void(TAnswer)>>& answer)
    {
        auto* call = new QObject(&Calls);
        answer = std::make_shared<std::function<void(TAnswer)>>();
        *answer = [this, call, done = std::move(done)](TAnswer value) mutable {
            if (!done)
                return;
            auto once = std::move(done);
            done = nullptr;
            Drop(call);
            once(std::move(value));
        };
        auto* timer = new QTimer(call);
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, call, [answer, timeLimitMs] {
            TAnswer value;
            value.Problem = "no answer within " + std::to_string(timeLimitMs) + " ms";
            (*answer)(std::move(value));
        });
        timer->start(timeLimitMs);
        return call;
    }

    void Drop(QObject* call)
    {
        for (QObject* child : call->children())
            child->disconnect(call);
        call->setParent(nullptr);
        call->deleteLater();
        Dropped.erase(std::remove_if(Dropped.begin(), Dropped.end(), [](const auto& p) { return p.isNull(); }),
                      Dropped.end());
        Dropped.emplace_back(call);
    }

    // A host name looked up once per search however many calls ask for it;
    // the calls then connect to its addresses.
    struct TName
    {
        bool Done = false;
        QList<QHostAddress> Addresses; // empty: see Problem
        std::string Problem;           // empty for a name that does not exist
        std::vector<std::function<void(const TName&)>> Waiting;
    };
    // Runs `then` on a later turn of the loop with the name's addresses,
    // unless the call has ended by then.
    void Resolve(QObject* call, const QString& host, std::function<void(const TName&)> then);
    bool Live(const QPointer<QObject>& call) const { return call && call->parent() == &Calls; }
    // Runs `connect` once the call's turn at the address has come; the turn
    // ends with the connection (a redirect's next one waits its own turn).
    void TakeTurn(QObject* call, QObject* connection, std::uint64_t sequence, const QHostAddress& address,
                  std::function<void()> connect);

    // One GET over its own connection; follows a redirect within the origin.
    void Get(QObject* call, std::uint64_t sequence, const std::shared_ptr<std::function<void(TFetchAnswer)>>& answer,
             const QUrl& url, std::size_t maxBytes, int redirectsLeft);

    void Lookup(QDnsLookup::Type type, const std::string& name, int timeLimitMs, std::function<void(TDnsAnswer)> done);

    QObject Calls;
    // Context of the name lookups under way: they end with the network.
    QObject Lookups;
    std::map<QString, std::shared_ptr<TName>> Names;
    std::map<QString, std::shared_ptr<TTurns>> Turns;
    std::uint64_t Sequence = 0;
    // Calls ended but not yet deleted by the event loop.
    std::vector<QPointer<QObject>> Dropped;
};

void TQtFindNetwork::Resolve(QObject* call, const QString& host, std::function<void(const TName&)> then)
{
    std::shared_ptr<TName>& entry = Names[host.toLower()];
    const bool asked = entry != nullptr;
    if (!asked)
        entry = std::make_shared<TName>();
    std::shared_ptr<TName> name = entry;
    auto run = [this, guard = QPointer<QObject>(call), then = std::move(then)](const TName& found) {
        if (Live(guard))
            then(found);
    };
    if (name->Done)
    {
        QTimer::singleShot(0, call, [name, run = std::move(run)] { run(*name); });
        return;
    }
    name->Waiting.push_back(std::move(run));
    if (asked)
        return;
    auto found = [name](QList<QHostAddress> addresses, std::string problem) {
        name->Done = true;
        name->Addresses = std::move(addresses);
        name->Problem = std::move(problem);
        for (auto& waiting : std::exchange(name->Waiting, {}))
            waiting(*name);
    };
    QHostAddress literal;
    if (literal.setAddress(host))
    {
        QTimer::singleShot(0, &Lookups, [found, literal] { found({literal}, {}); });
        return;
    }
    QHostInfo::lookupHost(host, &Lookups, [found](const QHostInfo& info) {
        const bool problem = info.addresses().isEmpty() && info.error() != QHostInfo::HostNotFound;
        found(info.addresses(), problem ? info.errorString().toStdString() : std::string());
    });
}

void TQtFindNetwork::TakeTurn(QObject* call, QObject* connection, std::uint64_t sequence,
                             const QHostAddress& address, std::function<void()> connect)
{
    std::shared_ptr<TTurns>& entry = Turns[address.toString()];
    if (!entry)
        entry = std::make_shared<TTurns>();
    std::shared_ptr<TTurns> turns = entry;
    auto go = [this, turns, guard = QPointer<QObject>(call), owner = QPointer<QObject>(connection),
               connect = std::move(connect)] {
        if (!Live(guard) || !owner)
        {
            PassTurn(turns);
            return;
        }
        turns->Busy = true;
        // The turn ends with the connection, or with its head start.
        auto* turn = new QObject(owner.data());
        auto passed = std::make_shared<bool>(false);
        auto pass = [turns, passed] {
            if (!std::exchange(*passed, true))
                PassTurn(turns);
        };
        QObject::connect(turn, &QObject::destroyed, pass);
        QTimer::singleShot(HeadStartMs, turn, pass);
        connect();
    };
    if (turns->Busy)
        turns->Waiting.emplace(sequence, std::move(go));
    else
        go();
}

// Connects to the next of the name's addresses; false when none is left.
bool ConnectNext(QSslSocket& socket, const std::shared_ptr<std::pair<QList<QHostAddress>, int>>& addresses,
                 const QString& host, int port, bool encrypted)
{
    if (addresses->second >= addresses->first.size())
        return false;
    const QString address = addresses->first[addresses->second++].toString();
    socket.abort();
    if (encrypted)
        socket.connectToHostEncrypted(address, static_cast<quint16>(port), host);
    else
    {
        socket.setPeerVerifyName(host);
        socket.connectToHost(address, static_cast<quint16>(port));
    }
    return true;
}

// An error on the way to a connection, after which the next address may do.
bool ConnectError(QAbstractSocket::SocketError error, const QSslSocket& socket)
{
    return socket.state() != QAbstractSocket::ConnectedState
           && (error == QAbstractSocket::ConnectionRefusedError || error == QAbstractSocket::NetworkError
               || error == QAbstractSocket::SocketTimeoutError || error == QAbstractSocket::UnsupportedSocketOperationError);
}

void TQtFindNetwork::Fetch(const std::string& url, std::size_t maxBytes, int timeLimitMs,
                           std::function<void(TFetchAnswer)> done)
{
    std::shared_ptr<std::function<void(TFetchAnswer)>> answer;
    QObject* call = NewCall(timeLimitMs, std::move(done), answer);
    const QUrl target(QString::fromStdString(url));
    if (target.scheme() != QLatin1String("https") || target.host().isEmpty())
    {
        QTimer::singleShot(0, call, [answer, url] { (*answer)({false, {}, "not an https address", 0, url}); });
        return;
    }
    Get(call, ++Sequence, answer, target, maxBytes, MaxRedirects);
}

void TQtFindNetwork::Get(QObject* call, std::uint64_t sequence,
                         const std::shared_ptr<std::function<void(TFetchAnswer)>>& answer, const QUrl& url,
                         std::size_t maxBytes, int redirectsLeft)
{
    auto* socket = new QSslSocket(call);
    auto reader = std::make_shared<THttpAnswerReader>(maxBytes);
    const std::string address = url.toString(QUrl::FullyEncoded).toStdString();
    auto fail = [answer, address](std::string problem, int status = 0) {
        (*answer)({false, {}, std::move(problem), status, address});
    };
    // What the reader made of the bytes so far: wait, follow, or answer.
    auto settle = [this, call, sequence, answer, socket, reader, url, address, maxBytes, redirectsLeft, fail] {
        switch (reader->State())
        {
        case THttpAnswerReader::TState::Reading:
            return;
        case THttpAnswerReader::TState::Failed:
            fail(reader->Problem());
            return;
        case THttpAnswerReader::TState::Done:
            break;
        }
        const int status = reader->Status();
        const std::string location = reader->Header("Location");
        if ((status == 301 || status == 302 || status == 303 || status == 307 || status == 308) && !location.empty())
        {
            const QUrl next = url.resolved(QUrl(QString::fromStdString(location)));
            // Same scheme, host and port only: never plain http, never another site.
            if (next.scheme() != QLatin1String("https") || next.host() != url.host()
                || next.port(443) != url.port(443))
            {
                fail("Insecure redirect", status);
                return;
            }
            if (redirectsLeft == 0)
            {
                fail("Too many redirects", status);
                return;
            }
            socket->disconnect(call);
            socket->abort();
            socket->deleteLater();
            Get(call, sequence, answer, next, maxBytes, redirectsLeft - 1);
            return;
        }
        if (status != 200)
        {
            fail("HTTP status " + std::to_string(status), status);
            return;
        }
        (*answer)({true, reader->Body(), {}, status, address});
    };
    QObject::connect(socket, &QSslSocket::sslErrors, call, [fail](const QList<QSslError>& errors) {
        fail("certificate refused: " + (errors.isEmpty() ? std::string() : errors.front().errorString().toStdString()));
    });
    auto addresses = std::make_shared<std::pair<QList<QHostAddress>, int>>();
    QObject::connect(socket, &QAbstractSocket::errorOccurred, call,
                     [socket, fail, addresses, url](QAbstractSocket::SocketError error) {
        // The server's close ends a body read to the end: disconnected says so.
        if (error == QAbstractSocket::RemoteHostClosedError)
            return;
        if (ConnectError(error, *socket) && addresses->second < addresses->first.size())
        {
            QTimer::singleShot(0, socket, [socket, addresses, url] {
                ConnectNext(*socket, addresses, url.host(), url.port(443), true);
            });
            return;
        }
        fail(socket->errorString().toStdString());
    });
    QObject::connect(socket, &QSslSocket::encrypted, call, [socket, url] {
        QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        if (target.isEmpty())
            target = "/";
        QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
        if (host.contains(':'))
            host = "[" + host + "]"; // an IPv6 address
        if (url.port(443) != 443)
            host += ":" + QByteArray::number(url.port());
        // One answer per connection, and no compression: nothing to undo.
        socket->write("GET " + target + " HTTP/1.1\r\nHost: " + host
                      + "\r\nUser-Agent: ternbell\r\nAccept: */*\r\nConnection: close\r\n\r\n");
    });
    QObject::connect(socket, &QIODevice::readyRead, call, [socket, reader, settle] {
        const QByteArray chunk = socket->readAll();
        reader->Feed(std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size())));
        settle();
    });
    QObject::connect(socket, &QAbstractSocket::disconnected, call, [socket, reader, settle] {
        const QByteArray rest = socket->readAll();
        reader->Feed(std::string_view(rest.constData(), static_cast<std::size_t>(rest.size())));
        reader->End();
        settle();
    });
    Resolve(call, url.host(), [this, call, sequence, socket, addresses, url, fail](const TName& name) {
        addresses->first = name.Addresses;
        if (addresses->first.isEmpty())
        {
            fail(name.Problem);
            return;
        }
        TakeTurn(call, socket, sequence, addresses->first.front(),
                 [socket, addresses, url] { ConnectNext(*socket, addresses, url.host(), url.port(443), true); });
    });
}

void TQtFindNetwork::Lookup(QDnsLookup::Type type, const std::string& name, int timeLimitMs,
                            std::function<void(TDnsAnswer)> done)
{
    std::shared_ptr<std::function<void(TDnsAnswer)>> answer;
    QObject* call = NewCall(timeLimitMs, std::move(done), answer);
    auto* lookup = new QDnsLookup(type, QString::fromStdString(name), call);
    QObject::connect(lookup, &QDnsLookup::finished, call, [lookup, answer] {
        TDnsAnswer result;
        if (lookup->error() == QDnsLookup::NotFoundError)
        {
            result.Ok = true;
            (*answer)(std::move(result));
            return;
        }
        if (lookup->error() != QDnsLookup::NoError)
        {
            result.Problem = lookup->errorString().toStdString();
            (*answer)(std::move(result));
            return;
        }
        result.Ok = true;
        for (const QDnsServiceRecord& record : lookup->serviceRecords())
            result.Srv.push_back({record.target().toStdString(), record.port(), record.priority(), record.weight()});
        QList<QDnsMailExchangeRecord> exchangers = lookup->mailExchangeRecords();
        std::stable_sort(exchangers.begin(), exchangers.end(),
                         [](const auto& a, const auto& b) { return a.preference() < b.preference(); });
        for (const QDnsMailExchangeRecord& record : exchangers)
            result.Mx.push_back(record.exchange().toStdString());
        (*answer)(std::move(result));
    });
    lookup->lookup();
}

void TQtFindNetwork::LookupSrv(const std::string& name, int timeLimitMs, std::function<void(TDnsAnswer)> done)
{
    Lookup(QDnsLookup::SRV, name, timeLimitMs, std::move(done));
}

void TQtFindNetwork::LookupMx(const std::string& domain, int timeLimitMs, std::function<void(TDnsAnswer)> done)
{
    Lookup(QDnsLookup::MX, domain, timeLimitMs, std::move(done));
}

void TQtFindNetwork::Probe(const TProbeAsk& ask, int timeLimitMs, std::function<void(TProbeAnswer)> done)
{
    std::shared_ptr<std::function<void(TProbeAnswer)>> answer;
    QObject* call = NewCall(timeLimitMs, std::move(done), answer);
    auto* socket = new QSslSocket(call);
    // What the server said so far on the current line, and the conversation's step.
    struct TState
    {
        QByteArray Line;
        bool Greeted = false;
        bool AskedStartTls = false;
    };
    auto state = std::make_shared<TState>();
    const bool imap = ask.IMAP4;
    auto fail = [answer](std::string problem) { (*answer)({false, std::move(problem)}); };
    QObject::connect(socket, &QSslSocket::sslErrors, call, [fail](const QList<QSslError>& errors) {
        fail("certificate refused: " + (errors.isEmpty() ? std::string() : errors.front().errorString().toStdString()));
    });
    auto addresses = std::make_shared<std::pair<QList<QHostAddress>, int>>();
    const QString host = QString::fromStdString(ask.Host);
    QObject::connect(socket, &QAbstractSocket::errorOccurred, call,
                     [socket, fail, addresses, host, ask](QAbstractSocket::SocketError error) {
        if (ConnectError(error, *socket) && addresses->second < addresses->first.size())
        {
            QTimer::singleShot(0, socket, [socket, addresses, host, ask] {
                ConnectNext(*socket, addresses, host, ask.Port, !ask.StartTLS);
            });
            return;
        }
        fail(socket->errorString().toStdString());
    });
    // Implicit TLS: verified and greeted in the protocol. STARTTLS: greeted,
    // the upgrade agreed, then verified.
    auto onLine = [socket, state, imap, ask, answer, fail](const QByteArray& line) {
        const bool good = imap ? line.startsWith("* OK") || (state->AskedStartTls && line.startsWith("a1 OK"))
                               : line.startsWith("+OK");
        const bool untagged = imap && line.startsWith("* ") && state->Greeted;
        if (untagged)
            return;
        if (!good && state->Greeted)
        {
            fail("STARTTLS refused: " + line.left(80).toStdString());
            return;
        }
        if (!good)
        {
            fail("not a " + std::string(imap ? "IMAP4" : "POP3") + " server: " + line.left(80).toStdString());
            return;
        }
        if (!ask.StartTLS)
        {
            (*answer)({true, {}});
            return;
        }
        if (!state->Greeted)
        {
            state->Greeted = true;
            state->AskedStartTls = true;
            socket->write(imap ? "a1 STARTTLS\r\n" : "STLS\r\n");
            return;
        }
        socket->startClientEncryption();
    };
    QObject::connect(socket, &QSslSocket::encrypted, call, [answer, ask] {
        if (ask.StartTLS)
            (*answer)({true, {}});
    });
    QObject::connect(socket, &QIODevice::readyRead, call, [socket, state, onLine, fail] {
        while (socket->bytesAvailable() > 0)
        {
            char c = 0;
            if (!socket->getChar(&c))
                break;
            if (c != '\n')
            {
                state->Line.append(c);
                if (state->Line.size() > MaxLine)
                {
                    fail("a line longer than 4096 bytes");
                    return;
                }
                continue;
            }
            QByteArray line = state->Line;
            state->Line.clear();
            if (line.endsWith('\r'))
                line.chop(1);
            onLine(line);
            // An upgrade started: what follows is the handshake's.
            if (socket->mode() != QSslSocket::UnencryptedMode || socket->state() != QAbstractSocket::ConnectedState)
                return;
        }
    });
    // Most likely names do not exist: that is no news worth a note.
    Resolve(call, host, [this, call, sequence = ++Sequence, socket, addresses, host, ask, fail](const TName& name) {
        addresses->first = name.Addresses;
        if (addresses->first.isEmpty())
        {
            fail(name.Problem);
            return;
        }
        TakeTurn(call, socket, sequence, addresses->first.front(),
                 [socket, addresses, host, ask] { ConnectNext(*socket, addresses, host, ask.Port, !ask.StartTLS); });
    });
}

} // namespace

extern "C" __attribute__((visibility("default"))) IFindNetwork* ternbell_create_find_network()
{
    return new TQtFindNetwork();
}
