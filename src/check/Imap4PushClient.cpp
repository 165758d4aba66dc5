#include "check/Imap4PushClient.h"

#include "check/CheckRules.h"
#include "check/JmapPushClient.h"
#include "check/RowId.h"
#include "check/SessionOpen.h"
#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"

namespace
{

// Dovecot 2.3 takes NOTIFY for a name beyond ASCII and then tells nothing
// of mail filed there (seen with "Entwürfe"): such a folder is left to the
// interval rather than trusted to the push line.
bool PlainNames(const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        for (char c : name)
            if (static_cast<unsigned char>(c) >= 0x80 || c == '&')
                return false;
    return true;
}

class TImap4PushClient : public TPushClient
{
public:
    TImap4PushClient(const Account& account, const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort)
        : FAccount(account), FLimits(limits)
    {
        FLimits.OperationTimeout = 0;
        FClient.LineAbort = std::move(abort);
    }

    TOpened Open() override
    {
        AimSession(FClient, FAccount, PortOfText(FAccount.Port), FLimits);
        FClient.KeepAlive = PushKeepAliveSeconds;
        // IDLE on the first watched folder; NOTIFY, where offered, tells of
        // the others on the same line, so one connection hears them all.
        const std::vector<std::string> folders = WatchedFolders(FAccount);
        const std::string& first = folders.front();
        switch (OpenSession(FClient, LoginOf(FAccount, FClient.Port), first, {"IDLE"}))
        {
        case TSessionOpened::Ready:
            FHearsEveryFolder =
                folders.size() == 1 || (FClient.NotifySet(folders, first) && PlainNames(folders));
            return TOpened::Ready;
        case TSessionOpened::LoginRefused:
            return TOpened::Refused;
        default:
            return TOpened::NoIdle;
        }
    }

    void Start() override
    {
        if (!FClient.IdleStart())
            Refused();
    }
    bool Wait(int milliseconds, int anyLineAfter) override { return FClient.IdleWait(milliseconds, anyLineAfter); }
    bool Renew() override
    {
        const bool news = FClient.IdleRenew(true);
        if (!FClient.Idling())
            Refused();
        return news;
    }

    bool HearsEveryFolder() const override { return FHearsEveryFolder; }

    void Close() noexcept override
    {
        try
        {
            FClient.Disconnect(false);
        }
        catch (...)
        {
        }
    }

private:
    // A server that offered IDLE and then refuses it: tried again later.
    [[noreturn]] void Refused()
    {
        throw EIdServerRefusal("The server refused IDLE: " + FClient.LastReply().Code);
    }

    Account FAccount;
    TSessionLimits FLimits;
    TIdIMAP4 FClient;
    bool FHearsEveryFolder = true;
};

} // namespace

std::unique_ptr<TPushClient> MakePushClient(const Account& account, const TSessionLimits& limits,
                                            std::shared_ptr<TIdLineAbort> abort)
{
    if (account.JMAP)
        return MakeJmapPushClient(account, limits, std::move(abort));
    return std::make_unique<TImap4PushClient>(account, limits, std::move(abort));
}
