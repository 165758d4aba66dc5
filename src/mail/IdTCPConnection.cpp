#include "mail/IdTCPConnection.h"

#include "mail/IdExceptions.h"
#include "mail/IdIOHandlerStack.h"
#include "mail/MailLimits.h"
#include "platform/AsciiText.h"

using namespace AsciiText;

// ------------------------------------------------------------ TIdTCPConnection

TIdTCPConnection::TIdTCPConnection(std::unique_ptr<TIdReply> reply)
    : FLastReply(std::move(reply))
{
}

TIdTCPConnection::~TIdTCPConnection()
{
    // Quietly: no goodbye to the peer and no status to an observer that may
    // be gone already.
    if (FIOHandler)
        FIOHandler->Close();
}

void TIdTCPConnection::SetIOHandler(std::unique_ptr<TIdIOHandler> handler)
{
    FIOHandler = std::move(handler);
    FImplicitIOHandler = false;
    if (FIOHandler)
        FIOHandler->OnStatus = [this](TIdStatus status, const std::string& text) { DoStatus(status, text); };
}

void TIdTCPConnection::DoStatus(TIdStatus status, const std::string& text)
{
    if (OnStatus)
        OnStatus(status, text);
}

bool TIdTCPConnection::CreateIOHandlerIfMissing()
{
    if (FIOHandler)
        return false;
    SetIOHandler(std::make_unique<TIdIOHandlerStack>());
    FImplicitIOHandler = true;
    return true;
}

void TIdTCPConnection::AbandonFailedConnect() noexcept
{
    if (!FIOHandler)
        return;
    FIOHandler->Close();
    if (FImplicitIOHandler)
    {
        FIOHandler.reset();
        FImplicitIOHandler = false;
    }
}

void TIdTCPConnection::CloseHandler() noexcept
{
    if (FIOHandler && FIOHandler->IsOpen())
    {
        DoStatus(hsDisconnecting, "Disconnecting.");
        FIOHandler->Close();
        DoStatus(hsDisconnected, "Disconnected.");
    }
}

std::string TIdTCPConnection::SendCommand(const std::string& line, const std::string& expectedCode)
{
    if (!FIOHandler)
        throw EIdNotConnected();
    FIOHandler->WriteLine(line);
    return ReadReply(expectedCode);
}

std::string TIdTCPConnection::ReadReply(const std::string& expectedCode)
{
    if (!FIOHandler)
        throw EIdNotConnected();
    // The list is kept between replies so its storage is reused.
    TIdStrings& lines = FReplyLines;
    lines.clear();
    lines.push_back(FIOHandler->ReadLineSkippingBlanks());
    std::size_t bytes = lines.back().size();
    while (!FLastReply->EndsReply(lines.back()))
    {
        lines.push_back(FIOHandler->ReadLineOrTimeout());
        bytes += lines.back().size();
        if (lines.size() > static_cast<std::size_t>(MaxReplyLines) || bytes > MaxReplyBytes)
        {
            // Let the storage go: the list is kept for the next reply.
            TIdStrings().swap(lines);
            throw EIdReplyTooLarge();
        }
    }
    FLastReply->SetFormattedReply(lines);
    if (!expectedCode.empty() && !SameText(FLastReply->Code, expectedCode))
        FLastReply->RaiseReplyFailure();
    return FLastReply->Code;
}

void TIdTCPConnection::NotifyPeerOfDisconnect()
{
}

void TIdTCPConnection::Disconnect(bool notifyPeer)
{
    try
    {
        if (notifyPeer && HandlerOpen() && Connected())
            NotifyPeerOfDisconnect();
    }
    catch (...)
    {
        CloseHandler();
        throw;
    }
    CloseHandler();
}

bool TIdTCPConnection::HandlerOpen() const
{
    return FIOHandler && FIOHandler->IsOpen();
}

bool TIdTCPConnection::Connected()
{
    return FIOHandler && FIOHandler->Connected();
}

// ---------------------------------------------------------- TIdTCPClientCustom

void TIdTCPClientCustom::Connect()
{
    // Stale bytes of a connection that was closed do not block a new one:
    // only an open handler counts as connected here.
    if (IOHandler() && IOHandler()->IsOpen() && Connected())
        throw EIdAlreadyConnected();
    if (Host.empty())
        throw EIdHostRequired();
    if (Port == 0)
        throw EIdPortRequired();
    CreateIOHandlerIfMissing();
    TIdIOHandler* handler = IOHandler();
    try
    {
        static_cast<TIdConnectSettings&>(*handler) = *this;
        handler->Open();
        DoStatus(hsConnected, "Connected.");
    }
    catch (...)
    {
        AbandonFailedConnect();
        throw;
    }
}
