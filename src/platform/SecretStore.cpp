#include "platform/SecretStore.h"

#include "keyring/KeyringProtocol.h"
#include "platform/ExeFolder.h"

#include <QMetaObject>
#include <QProcess>

#include <cstdlib>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace
{

std::mutex FolderLock;
std::string HelperFolder;

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

// One run of the helper and the requests it has not answered yet.
struct TSecretStore::THelper
{
    QProcess Process;
    std::set<unsigned> Ids;
    std::string Output;
    bool Closing = false; // its input is closed: it ends after its answers
};

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

TSecretStore::TSecretStore(QObject* parent) : QObject(parent)
{
}

TSecretStore::~TSecretStore()
{
    // A helper may be waiting for the user to unlock the keyring: it is not
    // waited for.
    for (auto& helper : FHelpers)
    {
        helper->Process.disconnect(this);
        helper->Process.kill();
        helper->Process.waitForFinished(1000);
    }
}

void TSecretStore::SetHelperFolder(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(FolderLock);
    HelperFolder = folder.empty() || folder.back() == '/' ? folder : folder + "/";
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

TSecretStore::THelper* TSecretStore::Helper()
{
    if (!FHelpers.empty() && !FHelpers.back()->Closing && FHelpers.back()->Process.state() != QProcess::NotRunning)
        return FHelpers.back().get();
    std::string folder;
    {
        std::lock_guard<std::mutex> guard(FolderLock);
        folder = HelperFolder.empty() ? ExecutableFolder() : HelperFolder;
    }
    FHelpers.push_back(std::make_unique<THelper>());
    THelper* helper = FHelpers.back().get();
    helper->Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&helper->Process, &QProcess::readyReadStandardOutput, this, [this, helper] { HelperOutput(helper); });
    connect(&helper->Process, &QProcess::finished, this,
            [this, helper] { HelperEnded(helper, "The keyring helper ended before it answered."); });
    connect(&helper->Process, &QProcess::errorOccurred, this, [this, helper](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            HelperEnded(helper, "The keyring helper cannot be started (" +
                                    helper->Process.errorString().toStdString() + ").");
    });
    ++FStarted;
    helper->Process.start(QString::fromStdString(folder + KeyringHelperName), {});
    return helper;
}

void TSecretStore::Submit(int operation, const TSecretKey& key, const std::string& label,
                          const std::string& secret, TSecretCallback done)
{
    const unsigned id = FNextId++;
    FWaiting[id] = std::move(done);
    if (FPresence == TPresence::Absent || !SessionBusNamed())
    {
        const TSecretReply reply{TSecretStatus::Unavailable, {}, "There is no session bus."};
        QMetaObject::invokeMethod(this, [this, id, reply] { Answer(id, reply); }, Qt::QueuedConnection);
        return;
    }
    THelper* helper = Helper();
    helper->Ids.insert(id);
    std::vector<std::string> fields{std::to_string(id), std::to_string(operation), key.Protocol, key.Host, key.Port,
                                    key.User, label, secret};
    if (!key.Kind.empty())
        fields.push_back(key.Kind);
    std::string message = KeyringMessage(fields);
    std::fill(fields[7].begin(), fields[7].end(), '\0');
    // Written when the helper has started; QProcess keeps it until then.
    helper->Process.write(message.data(), static_cast<qint64>(message.size()));
    std::fill(message.begin(), message.end(), '\0');
}

void TSecretStore::HelperOutput(THelper* helper)
{
    const QByteArray chunk = helper->Process.readAllStandardOutput();
    helper->Output.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    std::vector<std::string> fields;
    bool broken = false;
    while (TakeKeyringMessage(helper->Output, fields, broken))
    {
        if (fields.size() != 4)
            continue;
        const unsigned id = static_cast<unsigned>(std::strtoul(fields[0].c_str(), nullptr, 10));
        if (!helper->Ids.erase(id))
            continue;
        Answer(id, TSecretReply{StatusOf(std::atoi(fields[1].c_str())), fields[2], fields[3]});
    }
    if (broken)
        helper->Process.kill(); // its requests fail when it has ended
    else if (helper->Ids.empty() && !helper->Closing)
    {
        helper->Closing = true;
        helper->Process.closeWriteChannel();
    }
}

void TSecretStore::HelperEnded(THelper* helper, const std::string& why)
{
    const std::set<unsigned> ids = std::exchange(helper->Ids, {});
    for (unsigned id : ids)
        Answer(id, TSecretReply{TSecretStatus::Failed, {}, why});
    // Gone once control is back in the event loop: this runs in its signal.
    for (auto it = FHelpers.begin(); it != FHelpers.end(); ++it)
        if (it->get() == helper)
        {
            THelper* ended = it->release();
            FHelpers.erase(it);
            ended->Process.disconnect(this);
            QMetaObject::invokeMethod(this, [ended] { delete ended; }, Qt::QueuedConnection);
            break;
        }
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
