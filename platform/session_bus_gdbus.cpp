// The session-bus service over GDBus. The object is exported on the connection before the name is
// requested, so that a caller who sees the name finds the object. The name is requested with
// RequestName and DO_NOT_QUEUE, synchronously: the program learns at once whether it owns the name,
// instead of waiting in a queue behind a first instance.
#include "platform/session_bus.h"

#include <gio/gio.h>

namespace platform {

namespace {

constexpr guint32 kNameFlagDoNotQueue = 4; // DBUS_NAME_FLAG_DO_NOT_QUEUE
constexpr guint32 kNamePrimaryOwner = 1;   // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
constexpr guint32 kNameAlreadyOwner = 4;   // DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER
constexpr gint kBusCallTimeoutMs = 10000;  // the bus daemon answers in far less

std::string TakeError(GError* error) {
    std::string text = error != nullptr && error->message != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    return text;
}

std::string IntrospectionXml(const SessionBusObject& object) {
    return "<node><interface name='" + object.interfaceName + "'><method name='" + object.methodName +
           "'><arg type='i' name='result' direction='out'/></method></interface></node>";
}

class GDBusService : public SessionBusService {
public:
    GDBusService(const SessionBusObject& object, IntMethod method)
        : m_object(object), m_method(std::move(method)) {}

    ~GDBusService() override {
        if (m_connection == nullptr)
            return;
        if (m_ownsName) {
            GVariant* reply = g_dbus_connection_call_sync(
                m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "ReleaseName", g_variant_new("(s)", m_object.busName.c_str()), nullptr,
                G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr, nullptr);
            if (reply != nullptr)
                g_variant_unref(reply);
        }
        if (m_registration != 0)
            g_dbus_connection_unregister_object(m_connection, m_registration);
        if (m_info != nullptr)
            g_dbus_node_info_unref(m_info);
        g_dbus_connection_flush_sync(m_connection, nullptr, nullptr);
        g_object_unref(m_connection);
    }

    bool Start(std::string& error) {
        GError* failure = nullptr;
        m_connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &failure);
        if (m_connection == nullptr) {
            error = TakeError(failure);
            return false;
        }
        m_info = g_dbus_node_info_new_for_xml(IntrospectionXml(m_object).c_str(), &failure);
        if (m_info == nullptr) {
            error = TakeError(failure);
            return false;
        }
        static const GDBusInterfaceVTable vtable = {&GDBusService::OnMethodCall, nullptr, nullptr, {}};
        m_registration =
            g_dbus_connection_register_object(m_connection, m_object.objectPath.c_str(),
                                              m_info->interfaces[0], &vtable, this, nullptr, &failure);
        if (m_registration == 0) {
            error = TakeError(failure);
            return false;
        }
        GVariant* reply = g_dbus_connection_call_sync(
            m_connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", m_object.busName.c_str(), kNameFlagDoNotQueue),
            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kBusCallTimeoutMs, nullptr, &failure);
        if (reply == nullptr) {
            error = TakeError(failure);
            return false;
        }
        guint32 answer = 0;
        g_variant_get(reply, "(u)", &answer);
        g_variant_unref(reply);
        if (answer != kNamePrimaryOwner && answer != kNameAlreadyOwner) {
            error = "the name is owned by another program";
            return false;
        }
        m_ownsName = true;
        return true;
    }

private:
    static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                             GVariant*, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<GDBusService*>(data);
        if (self->m_object.methodName != method) {
            g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                                  "no method %s", method);
            return;
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(i)", self->m_method()));
    }

    SessionBusObject m_object;
    IntMethod m_method;
    GDBusConnection* m_connection = nullptr;
    GDBusNodeInfo* m_info = nullptr;
    guint m_registration = 0;
    bool m_ownsName = false;
};

} // namespace

std::unique_ptr<SessionBusService> SessionBusService::Start(const SessionBusObject& object, IntMethod method,
                                                            std::string& error) {
    auto service = std::make_unique<GDBusService>(object, std::move(method));
    if (!service->Start(error))
        return nullptr;
    return service;
}

} // namespace platform
