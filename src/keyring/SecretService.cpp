// The Secret Service client of the keyring module, on a thread of its own
// that runs a GLib main loop: libsecret answers on the main context of the
// thread that asked, so the program's event loop never runs its callbacks
// and never waits for one.
#include <libsecret/secret.h>

#include "keyring/SecretEntries.h"

#include <algorithm>
#include <mutex>
#include <string>

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

GMainContext* WorkerContext()
{
    static GMainContext* context = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        context = g_main_context_new();
        // Never joined: the module stays loaded until the process ends.
        g_thread_unref(g_thread_new("ternbell-keyring", [](gpointer) -> gpointer {
            g_main_context_push_thread_default(context);
            GMainLoop* loop = g_main_loop_new(context, FALSE);
            g_main_loop_run(loop);
            return nullptr;
        }, nullptr));
    });
    return context;
}

struct TJob
{
    int Operation;
    std::string Protocol, Host, Port, User, Label, Secret;
    TSecretAnswer Answer;
    void* Context;
    SecretService* Service = nullptr;
};

void Finish(TJob* job, int outcome, const std::string& message = {}, const char* secret = nullptr,
            std::size_t length = 0)
{
    job->Answer(job->Context, outcome, secret ? secret : "", length, message.c_str());
    if (job->Service)
        g_object_unref(job->Service);
    // The password is not left behind in freed memory.
    std::fill(job->Secret.begin(), job->Secret.end(), '\0');
    delete job;
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

GHashTable* AttributesOf(const TJob* job)
{
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
    secret_service_store(job->Service, PasswordSchema(), attributes, SECRET_COLLECTION_DEFAULT, job->Label.c_str(),
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
        secret_service_search(job->Service, PasswordSchema(), attributes,
                              static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS),
                              nullptr, Searched, job);
        break;
    case soDelete:
        secret_service_clear(job->Service, PasswordSchema(), attributes, nullptr, Cleared, job);
        break;
    default: // a write and a probe first ask where the default collection is
        secret_collection_for_alias(job->Service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr,
                                    DefaultFound, job);
        break;
    }
    g_hash_table_unref(attributes);
}

// The session bus, once it could be reached. A bus that goes away later
// (the session ends) makes every request fail instead of ending the
// program, which is what GIO does to a shared connection by default.
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

gboolean Start(gpointer data)
{
    std::string why;
    if (!BusReached(why))
    {
        Finish(static_cast<TJob*>(data), soUnavailable, why);
        return G_SOURCE_REMOVE;
    }
    secret_service_get(SECRET_SERVICE_NONE, nullptr, ServiceReady, data);
    return G_SOURCE_REMOVE;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void ternbell_secret_submit(const TSecretRequest* request,
                                                                            TSecretAnswer answer, void* context)
{
    auto* job = new TJob{request->Operation,
                         request->Protocol,
                         request->Host,
                         request->Port,
                         request->User,
                         request->Label,
                         std::string(request->Secret, request->SecretLength),
                         answer,
                         context};
    g_main_context_invoke(WorkerContext(), Start, job);
}
