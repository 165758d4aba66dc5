#pragma once

#include <cstddef>

// The keyring module and its one entry point. The module holds the Secret
// Service client (libsecret with GLib's GIO and GObject, about 1.3 MB mapped
// before its first use and 3.8 MB after it); the program loads it the first
// time a password is kept, read or deleted, so a tray icon whose passwords
// stay in the hive never maps it. Texts are UTF-8.

constexpr const char* SecretModuleFileName = "ternbell-keyring.so";
constexpr const char* SecretSubmitEntry = "ternbell_secret_submit";

enum TSecretOperation : int
{
    soRead = 0,
    soWrite = 1,
    soDelete = 2,
    // Whether a Secret Service answers on the bus; nothing is read or kept.
    soProbe = 3,
};

// How a request ended.
enum TSecretOutcome : int
{
    soDone = 0,        // read (the secret given), kept, deleted, or a service answered
    soMissing = 1,     // nothing is kept under the key
    soUnavailable = 2, // no bus, no Secret Service, or no collection it would create
    soRefused = 3,     // the keyring stayed locked
    soFailed = 4,      // any other error; the message says what
};

// The account a secret belongs to, by what identifies it on its server.
struct TSecretRequest
{
    int Operation = soRead;
    const char* Protocol = "";
    const char* Host = "";
    const char* Port = "";
    const char* User = "";
    const char* Label = "";  // for a write: the item's name in the keyring's window
    const char* Secret = ""; // for a write
    std::size_t SecretLength = 0;
};

// Called once per request, on the module's own thread; the texts live only
// for the call.
using TSecretAnswer = void (*)(void* context, int outcome, const char* secret, std::size_t length,
                               const char* message);
// Copies the request and returns at once.
using TSecretSubmit = void (*)(const TSecretRequest* request, TSecretAnswer answer, void* context);
