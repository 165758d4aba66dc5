// GIO's headers first: they name a member "signals", which the toolkit
// defines as a keyword.
#include <gio/gio.h>

#include "desktop/GnomeBanners.h"

#include <QLibrary>

namespace
{

const char* const SchemaId = "org.gnome.desktop.notifications";
const char* const BannersKey = "show-banners";

// The few GIO, GObject and GLib calls used, resolved from GIO (its handle
// reaches the libraries it links). Declared with the headers' own types, so
// a wrong signature does not compile.
struct TGio
{
    decltype(&g_settings_schema_source_get_default) SourceGetDefault = nullptr;
    decltype(&g_settings_schema_source_lookup) SourceLookup = nullptr;
    decltype(&g_settings_schema_has_key) HasKey = nullptr;
    decltype(&g_settings_schema_unref) SchemaUnref = nullptr;
    decltype(&g_settings_new_full) NewFull = nullptr;
    decltype(&g_settings_get_value) GetValue = nullptr;
    decltype(&g_variant_is_of_type) IsOfType = nullptr;
    decltype(&g_variant_get_boolean) GetBoolean = nullptr;
    decltype(&g_variant_unref) VariantUnref = nullptr;
    decltype(&g_signal_connect_data) ConnectData = nullptr;
    decltype(&g_signal_handler_disconnect) Disconnect = nullptr;
    decltype(&g_object_unref) ObjectUnref = nullptr;
    decltype(&g_bus_get_sync) BusGetSync = nullptr;
    decltype(&g_dbus_connection_set_exit_on_close) SetExitOnClose = nullptr;

    bool Complete() const
    {
        return SourceGetDefault && SourceLookup && HasKey && SchemaUnref && NewFull && GetValue && IsOfType &&
               GetBoolean && VariantUnref && ConnectData && Disconnect && ObjectUnref && BusGetSync &&
               SetExitOnClose;
    }
};

// Loaded once and never unloaded: GLib keeps threads and types of its own
// once it has been used.
const TGio* Gio()
{
    static const TGio gio = [] {
        TGio g;
        QLibrary library(QStringLiteral("gio-2.0"), 0);
        if (!library.load())
            return g;
        auto get = [&library](auto& entry, const char* name) {
            entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(library.resolve(name));
        };
        get(g.SourceGetDefault, "g_settings_schema_source_get_default");
        get(g.SourceLookup, "g_settings_schema_source_lookup");
        get(g.HasKey, "g_settings_schema_has_key");
        get(g.SchemaUnref, "g_settings_schema_unref");
        get(g.NewFull, "g_settings_new_full");
        get(g.GetValue, "g_settings_get_value");
        get(g.IsOfType, "g_variant_is_of_type");
        get(g.GetBoolean, "g_variant_get_boolean");
        get(g.VariantUnref, "g_variant_unref");
        get(g.ConnectData, "g_signal_connect_data");
        get(g.Disconnect, "g_signal_handler_disconnect");
        get(g.ObjectUnref, "g_object_unref");
        get(g.BusGetSync, "g_bus_get_sync");
        get(g.SetExitOnClose, "g_dbus_connection_set_exit_on_close");
        if (!g.Complete())
            return g;
        // dconf follows changes on GIO's shared session connection, which
        // ends the process when the bus goes. Held for ever, so the
        // connection that dconf gets later is this one.
        if (GDBusConnection* session = g.BusGetSync(G_BUS_TYPE_SESSION, nullptr, nullptr))
            g.SetExitOnClose(session, FALSE);
        return g;
    }();
    return gio.Complete() ? &gio : nullptr;
}

} // namespace

struct TGnomeBanners::TState
{
    std::function<void(bool)> Changed;
    const TGio* G = nullptr;
    GSettings* Settings = nullptr;
    gulong Handler = 0;
    bool Hidden = false;

    bool Read()
    {
        GVariant* value = G->GetValue(Settings, BannersKey);
        const bool hidden = value && G->IsOfType(value, G_VARIANT_TYPE_BOOLEAN) && !G->GetBoolean(value);
        if (value)
            G->VariantUnref(value);
        return hidden;
    }

    static void OnChanged(GSettings*, gchar*, gpointer data)
    {
        auto* state = static_cast<TState*>(data);
        const bool hidden = state->Read();
        if (hidden == state->Hidden)
            return;
        state->Hidden = hidden;
        state->Changed(hidden);
    }
};

TGnomeBanners::TGnomeBanners(std::function<void(bool hidden)> changed) : FState(std::make_unique<TState>())
{
    FState->Changed = std::move(changed);
}

TGnomeBanners::~TGnomeBanners()
{
    if (!FState->Settings)
        return;
    // Disconnected first: a change already queued in the main context must
    // not reach a state that is gone.
    FState->G->Disconnect(FState->Settings, FState->Handler);
    FState->G->ObjectUnref(FState->Settings);
}

bool TGnomeBanners::Start()
{
    if (FState->Settings)
        return true;
    const TGio* g = Gio();
    if (!g)
        return false;
    // GSettings aborts the process on a schema or key it does not know, so
    // both are looked up first.
    GSettingsSchemaSource* source = g->SourceGetDefault();
    GSettingsSchema* schema = source ? g->SourceLookup(source, SchemaId, TRUE) : nullptr;
    if (!schema)
        return false;
    if (!g->HasKey(schema, BannersKey))
    {
        g->SchemaUnref(schema);
        return false;
    }
    FState->G = g;
    FState->Settings = g->NewFull(schema, nullptr, nullptr);
    g->SchemaUnref(schema);
    FState->Handler = g->ConnectData(FState->Settings, "changed::show-banners", G_CALLBACK(&TState::OnChanged),
                                     FState.get(), nullptr, GConnectFlags(0));
    FState->Hidden = FState->Read();
    return true;
}

bool TGnomeBanners::Hidden() const
{
    return FState->Hidden;
}
