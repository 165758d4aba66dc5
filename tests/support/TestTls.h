#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A throw-away certificate authority for the TLS tests: a key and a
// self-signed CA certificate written as PEM into `folder`, and server
// certificates it issues. Keys are P-256, so making them costs little.
class TestCa
{
public:
    struct Issued
    {
        std::string CertFile;
        std::string KeyFile;
    };

    TestCa(const std::string& folder, const std::string& name);
    ~TestCa();
    TestCa(const TestCa&) = delete;
    TestCa& operator=(const TestCa&) = delete;

    // The CA certificate, to be trusted through SSL_CERT_FILE.
    const std::string& CaFile() const { return FCaFile; }
    // The CA's own self-signed certificate and key, as a server would use
    // them without any authority.
    Issued SelfSigned() const { return {FCaFile, FFolder + "/ca.key"}; }

    // A server certificate for `names` (host names, or IP literals), valid
    // from `fromDays` to `toDays` days from now, written as <base>.pem and
    // <base>.key.
    Issued Issue(const std::string& base, const std::vector<std::string>& names, long fromDays = -1,
                 long toDays = 30) const;

private:
    struct TKeys;
    std::unique_ptr<TKeys> FKeys;
    std::string FFolder;
    std::string FCaFile;
};

// A one-connection TLS server on 127.0.0.1 (port 0): it accepts, runs the
// server side of the handshake with the given certificate, sends `greeting`
// and records every plain byte the client sends until it closes. With
// `stallHandshake` it accepts and never answers the client's hello.
class TlsTestServer
{
public:
    TlsTestServer(const TestCa::Issued& certificate, const std::string& greeting, bool stallHandshake = false);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    int Port() const { return FPort; }
    // Waits (bounded) until the connection is over; then what came in
    // plain, after the handshake, and whether the handshake completed.
    bool WaitDone(int milliseconds = 5000);
    std::string Received() const;
    bool HandshakeDone() const { return FHandshakeDone; }

private:
    void Run(const TestCa::Issued& certificate, std::string greeting, bool stall);

    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FDone{false};
    std::atomic<bool> FHandshakeDone{false};
    mutable std::mutex FLock;
    std::string FReceived;
    std::thread FThread;
};
