#include "check/CheckClients.h"

#include "check/Imap4CheckClient.h"
#include "check/JmapCheckClient.h"
#include "check/Pop3CheckClient.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"

std::unique_ptr<TCheckClient> MakeCheckClient(TMailProtocol protocol, const TSessionLimits& limits,
                                              std::shared_ptr<TIdLineAbort> abort)
{
    if (protocol == mpJmap)
        return std::make_unique<TJmapCheckClient>(limits, std::move(abort));
    if (protocol == mpImap4)
        return std::make_unique<TOwningSession<TImap4CheckClient, TIdIMAP4>>(limits, std::move(abort));
    return std::make_unique<TOwningSession<TPop3CheckClient, TIdPOP3>>(limits, std::move(abort));
}
