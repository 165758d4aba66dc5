#include "support/TestTls.h"

#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

struct KeyFree
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree
{
    void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

[[noreturn]] void Fail(const std::string& what)
{
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    throw std::runtime_error("test certificate: " + what + ": " + text);
}

Key NewKey()
{
    Key key(EVP_EC_gen("P-256"));
    if (!key)
        Fail("key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension)
        Fail("extension " + value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

Cert MakeCert(EVP_PKEY* key, const std::string& commonName, X509* issuer, EVP_PKEY* /*issuerKey*/, long fromDays,
              long toDays, long serial)
{
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * 86400L);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    bool ok = cert ? PEM_write_X509(file, cert) == 1
                   : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(file);
    if (!ok)
        Fail("writing " + path);
}

bool IsAddress(const std::string& name)
{
    unsigned char address[16];
    return inet_pton(AF_INET, name.c_str(), address) == 1 || inet_pton(AF_INET6, name.c_str(), address) == 1;
}

} // namespace

struct TestCa::TKeys
{
    Key CaKey;
    Cert CaCert;
};

TestCa::TestCa(const std::string& folder, const std::string& name) : FKeys(std::make_unique<TKeys>()), FFolder(folder)
{
    FKeys->CaKey = NewKey();
    FKeys->CaCert = MakeCert(FKeys->CaKey.get(), name, nullptr, nullptr, -1, 30, 1);
    X509* ca = FKeys->CaCert.get();
    AddExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca, ca, NID_subject_key_identifier, "hash");
    if (X509_sign(ca, FKeys->CaKey.get(), EVP_sha256()) == 0)
        Fail("signing the CA");
    FCaFile = folder + "/" + "ca.pem";
    WritePem(FCaFile, ca, nullptr);
    WritePem(folder + "/ca.key", nullptr, FKeys->CaKey.get());
}

TestCa::~TestCa() = default;

TestCa::Issued TestCa::Issue(const std::string& base, const std::vector<std::string>& names, long fromDays,
                             long toDays) const
{
    static long serial = 100;
    Key key = NewKey();
    Cert cert = MakeCert(key.get(), names.empty() ? base : names.front(), FKeys->CaCert.get(), FKeys->CaKey.get(),
                         fromDays, toDays, ++serial);
    std::string alt;
    for (const std::string& name : names)
        alt += (alt.empty() ? "" : ",") + std::string(IsAddress(name) ? "IP:" : "DNS:") + name;
    if (!alt.empty())
        AddExtension(cert.get(), FKeys->CaCert.get(), NID_subject_alt_name, alt);
    AddExtension(cert.get(), FKeys->CaCert.get(), NID_basic_constraints, "CA:FALSE");
    AddExtension(cert.get(), FKeys->CaCert.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), FKeys->CaCert.get(), NID_authority_key_identifier, "keyid");
    if (X509_sign(cert.get(), FKeys->CaKey.get(), EVP_sha256()) == 0)
        Fail("signing " + base);
    Issued issued{FFolder + "/" + base + ".pem", FFolder + "/" + base + ".key"};
    WritePem(issued.CertFile, cert.get(), nullptr);
    WritePem(issued.KeyFile, nullptr, key.get());
    return issued;
}

// ------------------------------------------------------------- TlsTestServer

TlsTestServer::TlsTestServer(const TestCa::Issued& certificate, const std::string& greeting, bool stallHandshake)
{
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(FListen, 4) != 0
        || ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("TlsTestServer: cannot listen");
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this, certificate, greeting, stallHandshake] { Run(certificate, greeting, stallHandshake); });
}

TlsTestServer::~TlsTestServer()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FListen >= 0)
        ::close(FListen);
}

bool TlsTestServer::WaitDone(int milliseconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!FDone && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return FDone;
}

std::string TlsTestServer::Received() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FReceived;
}

void TlsTestServer::Run(const TestCa::Issued& certificate, std::string greeting, bool stall)
{
    // Every wait is a short poll that looks at FStop, so the destructor
    // never waits long.
    auto readable = [this](int fd) {
        pollfd entry{fd, POLLIN, 0};
        for (int i = 0; i < 1000 && !FStop; ++i)
            if (::poll(&entry, 1, 10) > 0)
                return true;
        return false;
    };
    if (!readable(FListen))
    {
        FDone = true;
        return;
    }
    int fd = ::accept(FListen, nullptr, nullptr);
    if (fd < 0)
    {
        FDone = true;
        return;
    }
    if (stall)
    {
        // Take the client's hello and never answer.
        char sink[4096];
        while (readable(fd) && ::recv(fd, sink, sizeof sink, 0) > 0)
        {
        }
        ::close(fd);
        FDone = true;
        return;
    }
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(context, certificate.CertFile.c_str());
    SSL_CTX_use_PrivateKey_file(context, certificate.KeyFile.c_str(), SSL_FILETYPE_PEM);
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (SSL_accept(ssl) == 1)
    {
        FHandshakeDone = true;
        greeting += "\r\n";
        SSL_write(ssl, greeting.data(), static_cast<int>(greeting.size()));
        char chunk[4096];
        for (;;)
        {
            int n = SSL_read(ssl, chunk, sizeof chunk);
            if (n <= 0)
                break;
            std::lock_guard<std::mutex> lock(FLock);
            FReceived.append(chunk, static_cast<std::size_t>(n));
        }
    }
    SSL_free(ssl);
    SSL_CTX_free(context);
    ::close(fd);
    ERR_clear_error();
    FDone = true;
}
