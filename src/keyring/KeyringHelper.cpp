// The keyring helper: the Secret Service client behind the requests the
// program writes to its input (keyring/KeyringProtocol.h). It runs GLib's
// main loop, answers each request when libsecret has, in whatever order they
// finish, and ends once its input is closed and every request is answered.
#include <libsecret/secret.h>

#include "keyring/KeyringProtocol.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

const SecretSchema* PasswordSchema()
{
    static const SecretSchema schema = {
        "org.ternbell.Password",
        SECRET_SCHEMA_NONE,
        {
            {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"port", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

// A token kept for an account: the password's attributes plus its kind, under
// a schema of its own so that a password lookup never finds it.
const SecretSchema* TokenSchema()
{
    static const SecretSchema schema = {
        "org.ternbell.Token",
        SECRET_SCHEMA_NONE,
        {
            {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"port", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"kind", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

GMainLoop* Loop = nullptr;
int Pending = 0;
bool InputClosed = false;

void QuitWhenDone()
{
    if (InputClosed && Pending == 0)
        g_main_loop_quit(Loop);
}

void Send(const std::string& message)
{
    std::size_t sent = 0;
    while (sent < message.size())
    {
        const ssize_t n = write(STDOUT_FILENO, message.data() + sent, message.size() - sent);
        if (n <= 0)
            _exit(1); // the program is gone
        sent += static_cast<std::size_t>(n);
    }
}

struct TJob
{
    std::string Id;
    int Operation;
    std::string Protocol, Host, Port, User, Label, Secret;
    std::string Kind; // empty: a password
    SecretService* Service = nullptr;
};

void Finish(TJob* job, int outcome, const std::string& message = {}, const char* secret = nullptr,
            std::size_t length = 0)
{
    std::string answer = KeyringMessage({job->Id, std::to_string(outcome), std::string(secret ? secret : "", length), message});
    Send(answer);
    std::fill(answer.begin(), answer.end(), '\0');
    if (job->Service)
        g_object_unref(job->Service);
    // The password is not left behind in freed memory.
    std::fill(job->Secret.begin(), job->Secret.end(), '\0');
    delete job;
    --Pending;
    QuitWhenDone();
}

// No bus or nobody owning the service's name: there is no keyring.
bool NoService(const GError* error)
{
    if (error->domain == G_DBUS_ERROR)
        return error->code == G_DBUS_ERROR_SERVICE_UNKNOWN || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER ||
               error->code == G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND || error->code == G_DBUS_ERROR_SPAWN_EXEC_FAILED ||
               error->code == G_DBUS_ERROR_SPAWN_CHILD_EXITED || error->code == G_DBUS_ERROR_DISCONNECTED ||
               error->code == G_DBUS_ERROR_NO_SERVER || error->code == G_DBUS_ERROR_UNKNOWN_METHOD;
    return error->domain == G_IO_ERROR && (error->code == G_IO_ERROR_CLOSED || error->code == G_IO_ERROR_NOT_FOUND);
}

void FinishWithError(TJob* job, GError* error)
{
    int outcome = soFailed;
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        outcome = soRefused;
    else if (NoService(error))
        outcome = soUnavailable;
    const std::string message = error->message ? error->message : "";
    g_error_free(error);
    Finish(job, outcome, message);
}

const SecretSchema* SchemaOf(const TJob* job)
{
    return job->Kind.empty() ? PasswordSchema() : TokenSchema();
}

GHashTable* AttributesOf(const TJob* job)
{
    if (!job->Kind.empty())
        return secret_attributes_build(TokenSchema(), "protocol", job->Protocol.c_str(), "host", job->Host.c_str(),
                                       "port", job->Port.c_str(), "user", job->User.c_str(), "kind",
                                       job->Kind.c_str(), nullptr);
    return secret_attributes_build(PasswordSchema(), "protocol", job->Protocol.c_str(), "host", job->Host.c_str(),
                                   "port", job->Port.c_str(), "user", job->User.c_str(), nullptr);
}

void Searched(GObject*, GAsyncResult* result, gpointer data)
{
    auto* job = static_cast<TJob*>(data);
    GError* error = nullptr;
    GList* items = secret_service_search_finish(job->Service, result, &error);
    if (error)
        return FinishWithError(job, error);
    if (!items)
        return Finish(job, soMissing);
    // Unlocking is asked for with the search: an item still locked after it
    // means the user refused, not that nothing is kept.
    auto* item = static_cast<SecretItem*>(items->data);
    SecretValue* value = secret_item_get_locked(item) ? nullptr : secret_item_get_secret(item);
    if (!value)
        Finish(job, soRefused);
    else
    {
        gsize length = 0;
        const gchar* secret = secret_value_get(value, &length);
        Finish(job, soDone, {}, secret, length);
        secret_value_unref(value);
    }
    g_list_free_full(items, g_object_unref);
}

void Stored(GObject*, GAsyncResult* result, gpointer data)
{
    auto* job = static_cast<TJob*>(data);
    GError* error = nullptr;
    if (!secret_service_store_finish(job->Service, result, &error))
        return FinishWithError(job, error);
    Finish(job, soDone);
}

void Store(TJob* job)
{
    GHashTable* attributes = AttributesOf(job);
    SecretValue* value = secret_value_new(job->Secret.data(), static_cast<gssize>(job->Secret.size()), "text/plain");
    secret_service_store(job->Service, SchemaOf(job), attributes, SECRET_COLLECTION_DEFAULT, job->Label.c_str(),
                         value, nullptr, Stored, job);
    secret_value_unref(value);
    g_hash_table_unref(attributes);
}

void CollectionCreated(GObject*, GAsyncResult* result, gpointer data)
{
    auto* job = static_cast<TJob*>(data);
    GError* error = nullptr;
    SecretCollection* collection = secret_collection_create_finish(result, &error);
    if (!collection)
    {
        // A keyring that will not make a collection keeps nothing.
        const std::string message = error && error->message ? error->message : "no collection was made";
        if (error)
            g_error_free(error);
        return Finish(job, soUnavailable, message);
    }
    g_object_unref(collection);
    Store(job);
}

void DefaultFound(GObject*, GAsyncResult* result, gpointer data)
{
    auto* job = static_cast<TJob*>(data);
    GError* error = nullptr;
    SecretCollection* collection = secret_collection_for_alias_finish(result, &error);
    if (error)
        return FinishWithError(job, error);
    if (job->Operation == soProbe || collection)
    {
        if (collection)
            g_object_unref(collection);
        return job->Operation == soProbe ? Finish(job, soDone) : Store(job);
    }
    // No default collection yet: ask for one (the keyring may ask the user
    // for its password).
    secret_collection_create(job->Service, "Login", SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_CREATE_NONE,
                             nullptr, CollectionCreated, job);
}

void Cleared(GObject*, GAsyncResult* result, gpointer data)
{
    auto* job = static_cast<TJob*>(data);
    GError* error = nullptr;
    const gboolean removed = secret_service_clear_finish(job->Service, result, &error);
    if (error)
        return FinishWithError(job, error);
    Finish(job, removed ? soDone : soMissing);
}

void ServiceReady(GObject*, GAsyncResult* result, gpointer data)
{
    auto* job = static_cast<TJob*>(data);
    GError* error = nullptr;
    job->Service = secret_service_get_finish(result, &error);
    if (!job->Service)
    {
        const std::string message = error && error->message ? error->message : "";
        if (error)
            g_error_free(error);
        return Finish(job, soUnavailable, message);
    }
    GHashTable* attributes = AttributesOf(job);
    switch (job->Operation)
    {
    case soRead:
        secret_service_search(job->Service, SchemaOf(job), attributes,
                              static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS),
                              nullptr, Searched, job);
        break;
    case soDelete:
        secret_service_clear(job->Service, SchemaOf(job), attributes, nullptr, Cleared, job);
        break;
    default: // a write and a probe first ask where the default collection is
        secret_collection_for_alias(job->Service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr,
                                    DefaultFound, job);
        break;
    }
    g_hash_table_unref(attributes);
}

// The session bus, once it could be reached. A bus that goes away later
// makes the requests fail with an answer instead of ending the helper
// silently, which is what GIO does to a shared connection by default.
bool BusReached(std::string& why)
{
    static GDBusConnection* bus = nullptr;
    if (bus)
        return true;
    GError* error = nullptr;
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus)
    {
        why = error && error->message ? error->message : "no session bus";
        if (error)
            g_error_free(error);
        return false;
    }
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    return true;
}

void Start(TJob* job)
{
    ++Pending;
    std::string why;
    if (!BusReached(why))
        return Finish(job, soUnavailable, why);
    secret_service_get(SECRET_SERVICE_NONE, nullptr, ServiceReady, job);
}

std::string Input;

gboolean InputReady(GIOChannel*, GIOCondition, gpointer)
{
    char chunk[4096];
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0)
    {
        InputClosed = true;
        QuitWhenDone();
        return G_SOURCE_REMOVE;
    }
    Input.append(chunk, static_cast<std::size_t>(n));
    std::vector<std::string> f;
    bool broken = false;
    while (TakeKeyringMessage(Input, f, broken))
    {
        if (f.size() != 8 && f.size() != 9)
            continue;
        Start(new TJob{f[0], std::atoi(f[1].c_str()), f[2], f[3], f[4], f[5], f[6], f[7], f.size() == 9 ? f[8] : ""});
        std::fill(f[7].begin(), f[7].end(), '\0');
    }
    if (broken || Input.size() > MaxKeyringMessage)
    {
        InputClosed = true;
        QuitWhenDone();
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

int main()
{
    Loop = g_main_loop_new(nullptr, FALSE);
    GIOChannel* input = g_io_channel_unix_new(STDIN_FILENO);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), InputReady, nullptr);
    g_main_loop_run(Loop);
    g_io_channel_unref(input);
    return 0;
}
