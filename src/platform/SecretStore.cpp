#include "platform/SecretStore.h"

#include "keyring/SecretEntries.h"
#include "platform/ExeFolder.h"

#include <QLibrary>
#include <QMetaObject>

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>

namespace
{

struct TModuleState
{
    std::mutex Lock;
    std::string Folder;
    // Never unloaded: its thread runs until the process ends.
    std::unique_ptr<QLibrary> Library;
    TSecretSubmit Submit = nullptr;
    std::string Why; // why it could not be loaded
};

TModuleState& Module()
{
    static TModuleState state;
    return state;
}

// The module's entry, loaded on the first call; null with `why` when it
// cannot be.
TSecretSubmit SubmitEntry(std::string& why)
{
    TModuleState& state = Module();
    std::lock_guard<std::mutex> guard(state.Lock);
    if (!state.Submit && state.Why.empty())
    {
        const std::string folder = state.Folder.empty() ? ExecutableFolder() : state.Folder;
        auto library = std::make_unique<QLibrary>(QString::fromStdString(folder + SecretModuleFileName));
        if (!library->load())
            state.Why = "The keyring module cannot be loaded (" + library->errorString().toStdString() + ").";
        else if (!(state.Submit = reinterpret_cast<TSecretSubmit>(library->resolve(SecretSubmitEntry))))
            state.Why = std::string("The keyring module lacks \"") + SecretSubmitEntry + "\".";
        state.Library = std::move(library);
    }
    why = state.Why;
    return state.Submit;
}

TSecretStatus StatusOf(int outcome)
{
    switch (outcome)
    {
    case soDone:
        return TSecretStatus::Done;
    case soMissing:
        return TSecretStatus::Missing;
    case soUnavailable:
        return TSecretStatus::Unavailable;
    case soRefused:
        return TSecretStatus::Refused;
    default:
        return TSecretStatus::Failed;
    }
}

} // namespace

// What the module's thread needs to reach the store: the store may be gone
// by the time an answer comes.
struct TSecretStore::TShared
{
    std::mutex Lock;
    TSecretStore* Store = nullptr;
};

namespace
{

struct TContext
{
    std::shared_ptr<void> Shared; // TSecretStore::TShared
    unsigned Id;
    void (*Deliver)(void* shared, unsigned id, const TSecretReply& reply);
};

void Answered(void* context, int outcome, const char* secret, std::size_t length, const char* message)
{
    std::unique_ptr<TContext> c(static_cast<TContext*>(context));
    TSecretReply reply{StatusOf(outcome), std::string(secret, length), message};
    c->Deliver(c->Shared.get(), c->Id, reply);
}

} // namespace

bool SessionBusNamed()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address)
        return false;
    // Only a unix socket path can be looked at without connecting; any other
    // address is tried.
    const std::string text = address;
    std::size_t start = 0;
    while (start <= text.size())
    {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(start, end - start);
        const std::string prefix = "unix:path=";
        if (!entry.empty())
        {
            if (entry.rfind(prefix, 0) != 0)
                return true;
            const std::string path = entry.substr(prefix.size(), entry.find(',') - prefix.size());
            struct stat st;
            if (stat(path.c_str(), &st) == 0)
                return true;
        }
        start = end + 1;
    }
    return false;
}

TSecretStore::TSecretStore(QObject* parent) : QObject(parent), FShared(std::make_shared<TShared>())
{
    FShared->Store = this;
}

TSecretStore::~TSecretStore()
{
    std::lock_guard<std::mutex> guard(FShared->Lock);
    FShared->Store = nullptr;
}

void TSecretStore::SetModuleFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(Module().Lock);
    Module().Folder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool TSecretStore::ModuleLoaded()
{
    std::lock_guard<std::mutex> guard(Module().Lock);
    return Module().Submit != nullptr;
}

void TSecretStore::Read(const TSecretKey& key, TSecretCallback done)
{
    Submit(soRead, key, {}, {}, std::move(done));
}

void TSecretStore::Write(const TSecretKey& key, const std::string& label, const std::string& secret,
                         TSecretCallback done)
{
    Submit(soWrite, key, label, secret, std::move(done));
}

void TSecretStore::Delete(const TSecretKey& key, TSecretCallback done)
{
    Submit(soDelete, key, {}, {}, std::move(done));
}

void TSecretStore::Probe(TSecretCallback done)
{
    Submit(soProbe, {}, {}, {}, std::move(done));
}

void TSecretStore::Submit(int operation, const TSecretKey& key, const std::string& label,
                          const std::string& secret, TSecretCallback done)
{
    const unsigned id = FNextId++;
    FWaiting[id] = std::move(done);
    std::string why = "There is no session bus.";
    TSecretSubmit submit = nullptr;
    if (FPresence != TPresence::Absent && SessionBusNamed())
        submit = SubmitEntry(why);
    if (!submit)
    {
        const TSecretReply reply{TSecretStatus::Unavailable, {}, why};
        QMetaObject::invokeMethod(this, [this, id, reply] { Answer(id, reply); }, Qt::QueuedConnection);
        return;
    }
    TSecretRequest request;
    request.Operation = operation;
    request.Protocol = key.Protocol.c_str();
    request.Host = key.Host.c_str();
    request.Port = key.Port.c_str();
    request.User = key.User.c_str();
    request.Label = label.c_str();
    request.Secret = secret.data();
    request.SecretLength = secret.size();
    auto* context = new TContext{FShared, id, [](void* shared, unsigned answered, const TSecretReply& reply) {
                                     auto* s = static_cast<TShared*>(shared);
                                     std::lock_guard<std::mutex> guard(s->Lock);
                                     if (TSecretStore* store = s->Store)
                                         QMetaObject::invokeMethod(
                                             store, [store, answered, reply] { store->Answer(answered, reply); },
                                             Qt::QueuedConnection);
                                 }};
    submit(&request, Answered, context);
}

void TSecretStore::Answer(unsigned id, const TSecretReply& reply)
{
    const auto found = FWaiting.find(id);
    if (found == FWaiting.end())
        return;
    TSecretCallback done = std::move(found->second);
    FWaiting.erase(found);
    if (reply.Status == TSecretStatus::Unavailable)
        SetPresence(TPresence::Absent);
    else if (reply.Status != TSecretStatus::Failed)
        SetPresence(TPresence::Present);
    if (done)
        done(reply);
}

void TSecretStore::SetPresence(TPresence presence)
{
    if (FPresence == presence)
        return;
    FPresence = presence;
    if (OnPresenceChanged)
        OnPresenceChanged();
}
