#pragma once

#include "mail/IdLineAbort.h"
#include "oauth/HttpExchange.h"
#include "oauth/OAuthJson.h"
#include "oauth/Providers.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class TLoopbackListener;

// What a sign-in shows while it waits. Called on the sign-in's thread; a
// window hands them on to its own.
struct TSignInHooks
{
    // Opens the address in the system's browser; false when none opened.
    std::function<bool(const std::string& url)> OpenBrowser;
    // The same address, for the user to copy into a browser.
    std::function<void(const std::string& url)> ShowAddress;
    // The device grant's code and where to enter it.
    std::function<void(const TDeviceCode& code)> ShowCode;
};

struct TSignedIn
{
    TTokenGrant Grant;
    std::string Who; // from the ID token, when the server sent one
};

// One sign-in with a provider: blocking, for a thread beside the windows.
// Cancel, from any thread, ends it at once with EOAuthCancelled.
class TSignIn
{
public:
    TSignIn(TProvider provider, THttpLimits limits, std::string loginHint = {});
    ~TSignIn();
    TSignIn(const TSignIn&) = delete;
    TSignIn& operator=(const TSignIn&) = delete;

    // How long the browser or the code may take.
    std::chrono::milliseconds Patience = std::chrono::minutes(10);
    // The clock of that patience and of the pauses between device polls
    // (null: the steady clock); the requests keep the limits' own.
    std::shared_ptr<TIdClock> WaitClock;

    // The authorization code grant with PKCE through a loopback listener.
    TSignedIn WithBrowser(const TSignInHooks& hooks);
    // The device grant, polling at the server's interval.
    TSignedIn WithCode(const TSignInHooks& hooks);
    void Cancel();

private:
    // Waits `milliseconds` unless cancelled first; false when cancelled.
    bool Pause(int milliseconds);
    TIdClock& Waits() const { return WaitClock ? *WaitClock : TIdSteadyClock::Instance(); }
    TSignedIn Done(TTokenGrant grant) const;

    TProvider FProvider;
    THttpLimits FLimits;
    std::string FLoginHint;
    std::shared_ptr<TIdLineAbort> FAbort = std::make_shared<TIdLineAbort>();
    std::mutex FMutex;
    bool FCancelled = false;
    TLoopbackListener* FListener = nullptr; // while WithBrowser waits
    std::condition_variable FCancel;
};
