#include "oauth/SignIn.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "oauth/LoopbackListener.h"
#include "oauth/OAuthErrors.h"
#include "oauth/Pkce.h"
#include "oauth/TokenEndpoint.h"

#include <algorithm>
#include <climits>

TSignIn::TSignIn(TProvider provider, THttpLimits limits, std::string loginHint)
    : FProvider(std::move(provider)), FLimits(std::move(limits)), FLoginHint(std::move(loginHint))
{
    FLimits.LineAbort = FAbort;
}

TSignIn::~TSignIn() = default;

void TSignIn::Cancel()
{
    std::lock_guard lock(FMutex);
    FCancelled = true;
    if (FListener)
        FListener->Cancel();
    FAbort->Abort();
    FCancel.notify_all();
}

bool TSignIn::Pause(int milliseconds)
{
    TIdClock& clock = Waits();
    const auto deadline = clock.After(milliseconds);
    std::unique_lock lock(FMutex);
    for (int left = clock.Left(deadline); left > 0; left = clock.Left(deadline))
    {
        const int block = clock.Block(left);
        if (FCancel.wait_for(lock, std::chrono::milliseconds(block), [this] { return FCancelled; }))
            return false;
        clock.WaitedOut(left);
    }
    return !FCancelled;
}

TSignedIn TSignIn::Done(TTokenGrant grant) const
{
    TSignedIn done;
    done.Who = IdTokenName(grant.IdToken);
    done.Grant = std::move(grant);
    return done;
}

TSignedIn TSignIn::WithBrowser(const TSignInHooks& hooks)
{
    TLoopbackListener listener;
    {
        std::lock_guard lock(FMutex);
        if (FCancelled)
            throw EOAuthCancelled(ResStr("The sign-in was cancelled."));
        FListener = &listener;
    }
    struct TForget
    {
        TSignIn* SignIn;
        ~TForget()
        {
            std::lock_guard lock(SignIn->FMutex);
            SignIn->FListener = nullptr;
        }
    } forget{this};

    const TPkce pkce = MakePkce();
    std::vector<std::pair<std::string, std::string>> fields{{"response_type", "code"},
                                                            {"client_id", FProvider.ClientId},
                                                            {"redirect_uri", listener.RedirectUri()},
                                                            {"state", pkce.State},
                                                            {"code_challenge", pkce.Challenge},
                                                            {"code_challenge_method", "S256"}};
    // No scope at all asks for the server's default; an empty one may be refused.
    if (!FProvider.Scope.empty())
        fields.emplace_back("scope", FProvider.Scope);
    if (!FLoginHint.empty())
        fields.emplace_back("login_hint", FLoginHint);
    const std::string& endpoint = FProvider.Endpoints.Authorization;
    const std::string url = endpoint + (endpoint.find('?') == std::string::npos ? "?" : "&") + FormEncode(fields);
    if (hooks.ShowAddress)
        hooks.ShowAddress(url);
    if (hooks.OpenBrowser)
        hooks.OpenBrowser(url); // without a browser the address shown is the way

    TIdClock& clock = Waits();
    const TLoopbackListener::TRedirect redirect = listener.Wait(pkce.State, clock, Patience);
    // RFC 9207: an answer that names another server is a mix-up, not ours.
    if (!redirect.Issuer.empty() && redirect.Issuer != FProvider.Endpoints.Issuer)
        throw EOAuthMalformed(ResStr("The sign-in was answered by another authorization server."));
    if (!redirect.Error.empty())
        throw EOAuthRefused(redirect.Error, redirect.Error == "access_denied"
                                                ? ResStr("The sign-in was refused.")
                                                : FormatOne(ResStr("The authorization server refused: %s"), "%s",
                                                            redirect.Error.substr(0, 100)));
    return Done(ExchangeCode(FProvider, redirect.Code, pkce.Verifier, listener.RedirectUri(), FLimits));
}

TSignedIn TSignIn::WithCode(const TSignInHooks& hooks)
{
    const TDeviceCode device = StartDeviceGrant(FProvider, FLimits);
    if (hooks.ShowCode)
        hooks.ShowCode(device);
    TIdClock& clock = Waits();
    // The server's seconds as waits, none past the patience: weeks in
    // milliseconds do not fit the count.
    const auto waitOf = [this](int seconds) {
        return static_cast<int>(std::min<long long>(seconds * 1000LL, Patience.count()));
    };
    const auto deadline = clock.After(device.ExpiresIn > 0 ? waitOf(device.ExpiresIn) : waitOf(INT_MAX));
    int interval = device.Interval;
    while (true)
    {
        if (!Pause(waitOf(interval)))
            throw EOAuthCancelled(ResStr("The sign-in was cancelled."));
        if (clock.Left(deadline) == 0)
            throw EOAuthCancelled(ResStr("The sign-in ran out of time."));
        if (std::optional<TTokenGrant> grant = PollDeviceGrant(FProvider, device, interval, FLimits))
            return Done(std::move(*grant));
    }
}
