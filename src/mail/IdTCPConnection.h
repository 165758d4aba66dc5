#pragma once

#include "mail/MailTypes.h"
#include "mail/IdIOHandler.h"
#include "mail/IdReply.h"

#include <functional>
#include <memory>
#include <string>

// A blocking, line-oriented TCP connection: owns its line handler and its
// reply object, runs the command/reply exchange and disconnects.
class TIdTCPConnection
{
public:
    explicit TIdTCPConnection(std::unique_ptr<TIdReply> reply);
    // Closes the socket quietly. It cannot tell the peer: the subclass that
    // would send the goodbye is already gone, so such subclasses disconnect
    // in their own destructors.
    virtual ~TIdTCPConnection();
    TIdTCPConnection(const TIdTCPConnection&) = delete;
    TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

    // Null before the first connect and after a failed connect released the
    // handler the connection had made for itself.
    TIdIOHandler* IOHandler() const { return FIOHandler.get(); }
    // Installs a handler of the caller's choice; it is kept across failures.
    void SetIOHandler(std::unique_ptr<TIdIOHandler> handler);

    TIdReply& LastReply() { return *FLastReply; }

    // Writes `line` and reads the reply; a code other than `expectedCode`
    // (when given, compared without regard to case) raises the reply error.
    std::string SendCommand(const std::string& line, const std::string& expectedCode = {});
    // Reads and checks one reply without sending (greetings).
    std::string ReadReply(const std::string& expectedCode = {});

    // Tells the peer (when asked and still connected), then closes in any
    // case; an error from telling the peer is raised after the close.
    virtual void Disconnect(bool notifyPeer);
    virtual bool Connected();
    // True while the line handler is open. `Connected` also counts bytes left
    // in the queue of a closed connection; a goodbye needs an open one.
    bool HandlerOpen() const;

    // Status observer: hsResolving ... hsDisconnected with their texts.
    std::function<void(TIdStatus, const std::string&)> OnStatus;

protected:
    // Sends the protocol's goodbye; nothing at this level.
    virtual void NotifyPeerOfDisconnect();
    void DoStatus(TIdStatus status, const std::string& text);
    // Makes the implicit handler when there is none; true when it did.
    bool CreateIOHandlerIfMissing();
    // Closes the handler and releases it when the connection made it itself.
    void AbandonFailedConnect() noexcept;

private:
    void CloseHandler() noexcept;

    std::unique_ptr<TIdIOHandler> FIOHandler;
    bool FImplicitIOHandler = false;
    std::unique_ptr<TIdReply> FLastReply;
    TIdStrings FReplyLines;
};

// The client settings and Connect. The protocol clients extend Connect with
// the greeting and login.
class TIdTCPClientCustom : public TIdTCPConnection, public TIdConnectSettings
{
public:
    using TIdTCPConnection::TIdTCPConnection;

    virtual void Connect();
};
