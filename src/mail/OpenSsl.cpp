#include "mail/OpenSsl.h"

#include "mail/IdExceptions.h"

#include <atomic>
#include <mutex>
#include <string>

#include <dlfcn.h>

// The library of the headers built against.
#define TERNBELL_SSL_TEXT(n) #n
#define TERNBELL_SSL_NAME(n) "libssl.so." TERNBELL_SSL_TEXT(n)
#define TERNBELL_LIBSSL TERNBELL_SSL_NAME(OPENSSL_VERSION_MAJOR)

namespace
{

std::atomic<bool> Loaded{false};

// libssl brings libcrypto with it; a lookup in its handle finds both.
std::string Load(TOpenSsl& api)
{
    void* handle = ::dlopen(TERNBELL_LIBSSL, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
    {
        const char* why = ::dlerror();
        return why ? why : TERNBELL_LIBSSL " cannot be loaded";
    }
    // Kept mapped for the rest of the run: sessions hold its objects.
#define TERNBELL_OPENSSL_LOOKUP(name)                                                  \
    api.name = reinterpret_cast<decltype(api.name)>(::dlsym(handle, #name));          \
    if (!api.name)                                                                     \
        return TERNBELL_LIBSSL " has no " #name;
    TERNBELL_OPENSSL_FUNCTIONS(TERNBELL_OPENSSL_LOOKUP)
#undef TERNBELL_OPENSSL_LOOKUP
    return {};
}

} // namespace

const TOpenSsl& OpenSsl()
{
    static TOpenSsl api;
    static std::string failure;
    static std::once_flag once;
    std::call_once(once, [] {
        failure = Load(api);
        Loaded = failure.empty();
    });
    if (!failure.empty())
        throw EIdTLSNotAvailable("Secure connections are not available: " + failure);
    return api;
}

bool OpenSslLoaded()
{
    return Loaded;
}
