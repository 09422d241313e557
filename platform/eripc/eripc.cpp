// Messages between applications and the platform daemons, over GDBus on the session bus:
// a private connection per context, method calls and signals built from typed argument lists.
#include "eripc.h"

#include <gio/gio.h>

#include <cstdarg>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ry_raii.h"

struct eripc_event_info {
    std::string name;
    std::string interface;
    std::string sender;
    GVariant* args = nullptr;  // a tuple, owned

    eripc_event_info(const char* n, const char* i, const char* s, GVariant* a)
        : name(n ? n : ""),
          interface(i ? i : ""),
          sender(s ? s : ""),
          args(a ? g_variant_ref_sink(a) : g_variant_ref_sink(g_variant_new_tuple(nullptr, 0))) {}
    ~eripc_event_info() { g_variant_unref(args); }
    eripc_event_info(const eripc_event_info&) = delete;
    eripc_event_info& operator=(const eripc_event_info&) = delete;
};

namespace {

struct Handler {
    bool is_signal = false;
    eripc_handler_t* fn = nullptr;
    void* user_data = nullptr;
    std::string interface;  // empty: any interface
    std::string name;
    guint subscription = 0;
};

// The part of a context that GDBus's worker thread reads (the filter) and that pending
// dispatches hold on to: it may outlive the context by a little.
struct Dispatch {
    std::mutex lock;
    std::map<int, Handler> handlers;
    std::string object_path;
    eripc_context_t* context = nullptr;  // cleared when the context goes
    GMainContext* main_context = nullptr;

    ~Dispatch() {
        if (main_context) g_main_context_unref(main_context);
    }

    // The first handler for a method call of this interface and name, or none.
    bool find_call(const char* interface, const char* name, Handler* out) {
        std::lock_guard<std::mutex> guard(lock);
        for (const auto& [id, h] : handlers) {
            if (h.is_signal || h.name != name) continue;
            if (!h.interface.empty() && interface && h.interface != interface) continue;
            *out = h;
            return context != nullptr;
        }
        return false;
    }
};

using DispatchPtr = std::shared_ptr<Dispatch>;

using error_ptr = ry::gerror_ptr;
template <class T>
using object_ptr = ry::gobject_ptr<T>;
using ry::variant_ptr;

}  // namespace

struct eripc_context {
    GDBusConnection* connection = nullptr;  // owned; NULL when no session bus could be reached
    DispatchPtr dispatch;
    guint filter_id = 0;
    int timeout_ms = ERIPC_DEFAULT_TIMEOUT;
    int next_id = 1;
};

namespace {

eripc_error_t check_bus(eripc_bus_t bus) {
    switch (bus) {
        case ERIPC_BUS_SESSION:
            return ERIPC_ERROR_SUCCESS;
        case ERIPC_BUS_SYSTEM:
        case ERIPC_BUS_BOTH:
            return ERIPC_ERROR;
        default:
            return ERIPC_ERROR_INVALID;
    }
}

// "com.irexnet.sysd" -> "/com/irexnet/sysd".
std::string path_for_service(const char* service) {
    std::string path = "/";
    for (const char* p = service; *p; ++p) {
        char c = *p;
        if (c == '.')
            path += '/';
        else if (g_ascii_isalnum(c) || c == '_')
            path += c;
        else
            path += '_';
    }
    return path;
}

// Builds the argument tuple (a new reference) from (type, value) pairs; nullptr for a type
// we cannot send or a string that is NULL or not UTF-8.
GVariant* build_args(va_list ap) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_TUPLE);
    for (;;) {
        int type = va_arg(ap, int);
        GVariant* value = nullptr;
        switch (type) {
            case ERIPC_TYPE_INVALID:
                return g_variant_ref_sink(g_variant_builder_end(&builder));
            case ERIPC_TYPE_BOOL:
                value = g_variant_new_boolean(va_arg(ap, int) != 0);
                break;
            case ERIPC_TYPE_BYTE:
                value = g_variant_new_byte(guchar(va_arg(ap, int)));
                break;
            case ERIPC_TYPE_INT:
                value = g_variant_new_int32(va_arg(ap, int));
                break;
            case ERIPC_TYPE_UINT:
                value = g_variant_new_uint32(va_arg(ap, unsigned int));
                break;
            case ERIPC_TYPE_DOUBLE:
                value = g_variant_new_double(va_arg(ap, double));
                break;
            case ERIPC_TYPE_STRING: {
                const char* s = va_arg(ap, const char*);
                if (s && g_utf8_validate(s, -1, nullptr)) value = g_variant_new_string(s);
                break;
            }
            default:
                break;
        }
        if (!value) {
            g_variant_builder_clear(&builder);
            return nullptr;
        }
        g_variant_builder_add_value(&builder, value);
    }
}

eripc_error_t error_from_gerror(const GError* error) {
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT))
        return ERIPC_ERROR_TIMEOUT;
    return ERIPC_ERROR;
}

// Checks what every method call needs and derives the object path and interface.
eripc_error_t check_call(eripc_context_t* context, eripc_bus_t bus, const char* destination,
                         const char* message_name, std::string* path) {
    if (!context || !destination || !message_name) return ERIPC_ERROR_INVALID;
    eripc_error_t rc = check_bus(bus);
    if (rc != ERIPC_ERROR_SUCCESS) return rc;
    if (!g_dbus_is_name(destination) || g_dbus_is_unique_name(destination) ||
        !g_dbus_is_interface_name(destination) || !g_dbus_is_member_name(message_name))
        return ERIPC_ERROR_INVALID;
    *path = path_for_service(destination);
    return g_variant_is_object_path(path->c_str()) ? ERIPC_ERROR_SUCCESS : ERIPC_ERROR_INVALID;
}

// check_call, then the arguments; a call that passes both still needs a connection.
eripc_error_t prepare_call(eripc_context_t* context, eripc_bus_t bus, const char* destination,
                           const char* message_name, va_list ap, std::string* path, variant_ptr* args) {
    eripc_error_t rc = check_call(context, bus, destination, message_name, path);
    if (rc != ERIPC_ERROR_SUCCESS) return rc;
    args->reset(build_args(ap));
    if (!*args) return ERIPC_ERROR_INVALID;
    return context->connection ? ERIPC_ERROR_SUCCESS : ERIPC_ERROR;
}

// A method call caught by the filter, run in the context's main context.
struct CallData {
    DispatchPtr dispatch;
    object_ptr<GDBusConnection> connection;
    object_ptr<GDBusMessage> message;
};

gboolean run_call(gpointer data) {
    auto* call = static_cast<CallData*>(data);
    GDBusMessage* msg = call->message.get();
    Handler h;
    object_ptr<GDBusMessage> reply;
    if (call->dispatch->find_call(g_dbus_message_get_interface(msg), g_dbus_message_get_member(msg), &h)) {
        eripc_event_info info(g_dbus_message_get_member(msg), g_dbus_message_get_interface(msg),
                              g_dbus_message_get_sender(msg), g_dbus_message_get_body(msg));
        h.fn(call->dispatch->context, &info, h.user_data);
        reply.reset(g_dbus_message_new_method_reply(msg));
    } else {
        // The handler went between the filter and now.
        reply.reset(g_dbus_message_new_method_error_literal(msg, "org.freedesktop.DBus.Error.UnknownMethod",
                                                            "No handler for this message"));
    }
    if (!(g_dbus_message_get_flags(msg) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED))
        g_dbus_connection_send_message(call->connection.get(), reply.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE,
                                       nullptr, nullptr);
    return G_SOURCE_REMOVE;
}

// Runs on GDBus's worker thread: takes the method calls to our object that have a handler
// and hands them to the main context; everything else goes on to GDBus.
GDBusMessage* filter_calls(GDBusConnection* connection, GDBusMessage* msg, gboolean incoming, gpointer data) {
    if (!incoming || g_dbus_message_get_message_type(msg) != G_DBUS_MESSAGE_TYPE_METHOD_CALL) return msg;
    const DispatchPtr& dispatch = *static_cast<DispatchPtr*>(data);
    const char* path = g_dbus_message_get_path(msg);
    const char* member = g_dbus_message_get_member(msg);
    Handler h;
    if (!path || !member || dispatch->object_path != path ||
        !dispatch->find_call(g_dbus_message_get_interface(msg), member, &h))
        return msg;
    auto call = std::make_unique<CallData>();
    call->dispatch = dispatch;
    call->connection.reset(G_DBUS_CONNECTION(g_object_ref(connection)));
    call->message.reset(msg);  // the filter owns the message it drops
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, run_call, call.release(),
                          [](gpointer p) { std::unique_ptr<CallData>(static_cast<CallData*>(p)); });
    g_source_attach(source, dispatch->main_context);
    g_source_unref(source);
    return nullptr;
}

struct SignalData {
    DispatchPtr dispatch;
    int id;
};

void on_signal(GDBusConnection*, const gchar* sender, const gchar*, const gchar* interface,
               const gchar* signal_name, GVariant* parameters, gpointer data) {
    auto* sd = static_cast<SignalData*>(data);
    eripc_handler_t* fn = nullptr;
    void* user_data = nullptr;
    eripc_context_t* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(sd->dispatch->lock);
        auto it = sd->dispatch->handlers.find(sd->id);
        if (it == sd->dispatch->handlers.end()) return;
        fn = it->second.fn;
        user_data = it->second.user_data;
        context = sd->dispatch->context;
    }
    if (!context) return;
    eripc_event_info info(signal_name, interface, sender, parameters);
    fn(context, &info, user_data);
}

struct ReplyData {
    DispatchPtr dispatch;
    std::string name;
    eripc_handler_t* fn;
    void* user_data;
};

void on_reply(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<ReplyData> rd(static_cast<ReplyData*>(data));
    GError* raw = nullptr;
    variant_ptr value(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw));
    error_ptr error(raw);
    eripc_context_t* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(rd->dispatch->lock);
        context = rd->dispatch->context;
    }
    if (!context) return;
    if (value) {
        eripc_event_info info(rd->name.c_str(), nullptr, nullptr, value.get());
        rd->fn(context, &info, rd->user_data);
    } else {
        // An error reply: its name and its text.
        char* remote = g_dbus_error_get_remote_error(error.get());
        eripc_event_info info(remote ? remote : "org.freedesktop.DBus.Error.Failed", nullptr, nullptr,
                              g_variant_new("(s)", error->message));
        g_free(remote);
        rd->fn(context, &info, rd->user_data);
    }
}

eripc_error_t set_handler(eripc_context_t* context, bool is_signal, eripc_handler_t* handler, void* user_data,
                          eripc_bus_t bus, const char* interface, const char* name, int* handler_id) {
    if (!context || !handler || !name || !g_dbus_is_member_name(name) ||
        (interface && !g_dbus_is_interface_name(interface)))
        return ERIPC_ERROR_INVALID;
    eripc_error_t rc = check_bus(bus);
    if (rc != ERIPC_ERROR_SUCCESS) return rc;
    if (!context->connection) return ERIPC_ERROR;

    int id = context->next_id++;
    Handler h;
    h.is_signal = is_signal;
    h.fn = handler;
    h.user_data = user_data;
    h.interface = interface ? interface : "";
    h.name = name;
    {
        std::lock_guard<std::mutex> guard(context->dispatch->lock);
        context->dispatch->handlers[id] = h;
    }
    if (is_signal) {
        auto sd = std::make_unique<SignalData>(SignalData{context->dispatch, id});
        // Signals are delivered in the main context that is the thread default here.
        g_main_context_push_thread_default(context->dispatch->main_context);
        guint sub = g_dbus_connection_signal_subscribe(
            context->connection, nullptr, interface, name, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            on_signal, sd.release(),
            [](gpointer p) { std::unique_ptr<SignalData>(static_cast<SignalData*>(p)); });
        g_main_context_pop_thread_default(context->dispatch->main_context);
        {
            std::lock_guard<std::mutex> guard(context->dispatch->lock);
            context->dispatch->handlers[id].subscription = sub;
        }
        // One round trip to the bus, so that its match rule is in place when we return.
        variant_ptr ignored(g_dbus_connection_call_sync(
            context->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "GetId", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, context->timeout_ms, nullptr, nullptr));
    }
    if (handler_id) *handler_id = id;
    return ERIPC_ERROR_SUCCESS;
}

}  // namespace

eripc_context_t* eripc_init(const char* name, const char* /*version*/, GMainContext* main_context) {
    if (!name || !*name) return nullptr;
    std::string service = std::string("com.irexnet.") + name;
    std::string path = path_for_service(service.c_str());
    if (!g_dbus_is_name(service.c_str()) || !g_dbus_is_interface_name(service.c_str()) ||
        !g_variant_is_object_path(path.c_str()))
        return nullptr;

    auto context = std::make_unique<eripc_context>();
    context->dispatch = std::make_shared<Dispatch>();
    context->dispatch->object_path = path;
    context->dispatch->main_context =
        main_context ? g_main_context_ref(main_context) : g_main_context_ref_thread_default();
    context->dispatch->context = context.get();

    // A connection of our own: no other code shares its name or its exit-on-close.
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (address) {
        context->connection = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
    }
    if (!context->connection) return context.release();

    g_dbus_connection_set_exit_on_close(context->connection, FALSE);
    context->filter_id = g_dbus_connection_add_filter(
        context->connection, filter_calls, std::make_unique<DispatchPtr>(context->dispatch).release(),
        [](gpointer p) { std::unique_ptr<DispatchPtr>(static_cast<DispatchPtr*>(p)); });
    // Flags 0: when another process holds the name, wait in the queue for it.
    variant_ptr owned(g_dbus_connection_call_sync(
        context->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", service.c_str(), 0u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, context->timeout_ms, nullptr, nullptr));
    return context.release();
}

void eripc_destroy(eripc_context_t* context) {
    if (!context) return;
    std::unique_ptr<eripc_context> owner(context);
    {
        std::lock_guard<std::mutex> guard(context->dispatch->lock);
        context->dispatch->context = nullptr;
    }
    if (!context->connection) return;
    for (const auto& [id, h] : context->dispatch->handlers)
        if (h.subscription) g_dbus_connection_signal_unsubscribe(context->connection, h.subscription);
    g_dbus_connection_remove_filter(context->connection, context->filter_id);
    // Messages sent without waiting are still queued: let them out before closing.
    g_dbus_connection_flush_sync(context->connection, nullptr, nullptr);
    g_dbus_connection_close_sync(context->connection, nullptr, nullptr);
    g_object_unref(context->connection);
}

eripc_error_t eripc_set_message_handler(eripc_context_t* context, eripc_handler_t* handler, void* user_data,
                                        eripc_bus_t bus, const char* interface, const char* message_name,
                                        int* handler_id) {
    return set_handler(context, false, handler, user_data, bus, interface, message_name, handler_id);
}

eripc_error_t eripc_set_signal_handler(eripc_context_t* context, eripc_handler_t* handler, void* user_data,
                                       eripc_bus_t bus, const char* interface, const char* signal_name,
                                       int* handler_id) {
    return set_handler(context, true, handler, user_data, bus, interface, signal_name, handler_id);
}

eripc_error_t eripc_unset_handler(eripc_context_t* context, int handler_id) {
    if (!context) return ERIPC_ERROR_INVALID;
    guint subscription = 0;
    {
        std::lock_guard<std::mutex> guard(context->dispatch->lock);
        auto it = context->dispatch->handlers.find(handler_id);
        if (it == context->dispatch->handlers.end()) return ERIPC_ERROR_INVALID;
        subscription = it->second.subscription;
        context->dispatch->handlers.erase(it);
    }
    if (subscription) g_dbus_connection_signal_unsubscribe(context->connection, subscription);
    return ERIPC_ERROR_SUCCESS;
}

const char* eripc_event_info_get_name(const eripc_event_info_t* info) {
    return info ? info->name.c_str() : nullptr;
}
const char* eripc_event_info_get_interface(const eripc_event_info_t* info) {
    return info ? info->interface.c_str() : nullptr;
}
const char* eripc_event_info_get_sender(const eripc_event_info_t* info) {
    return info ? info->sender.c_str() : nullptr;
}
GVariant* eripc_event_info_get_args(const eripc_event_info_t* info) { return info ? info->args : nullptr; }
void eripc_event_info_free(eripc_event_info_t* info) { std::unique_ptr<eripc_event_info> owner(info); }

eripc_error_t eripc_send_signal_varargs(eripc_context_t* context, eripc_bus_t bus, const char* object_path,
                                        const char* interface, const char* signal_name, ...) {
    if (!context || !object_path || !interface || !signal_name || !g_variant_is_object_path(object_path) ||
        !g_dbus_is_interface_name(interface) || !g_dbus_is_member_name(signal_name))
        return ERIPC_ERROR_INVALID;
    eripc_error_t rc = check_bus(bus);
    if (rc != ERIPC_ERROR_SUCCESS) return rc;
    va_list ap;
    va_start(ap, signal_name);
    variant_ptr args(build_args(ap));
    va_end(ap);
    if (!args) return ERIPC_ERROR_INVALID;
    if (!context->connection) return ERIPC_ERROR;
    if (!g_dbus_connection_emit_signal(context->connection, nullptr, object_path, interface, signal_name,
                                       args.get(), nullptr))
        return ERIPC_ERROR;
    return ERIPC_ERROR_SUCCESS;
}

namespace {

eripc_error_t send_with(eripc_context_t* context, eripc_handler_t* reply_handler, void* user_data,
                        eripc_bus_t bus, const char* destination, const char* message_name, va_list ap) {
    std::string path;
    variant_ptr args;
    eripc_error_t rc = prepare_call(context, bus, destination, message_name, ap, &path, &args);
    if (rc != ERIPC_ERROR_SUCCESS) return rc;

    if (reply_handler) {
        auto rd =
            std::make_unique<ReplyData>(ReplyData{context->dispatch, message_name, reply_handler, user_data});
        g_main_context_push_thread_default(context->dispatch->main_context);
        g_dbus_connection_call(context->connection, destination, path.c_str(), destination, message_name,
                               args.get(), nullptr, G_DBUS_CALL_FLAGS_NONE, context->timeout_ms, nullptr,
                               on_reply, rd.release());
        g_main_context_pop_thread_default(context->dispatch->main_context);
        return ERIPC_ERROR_SUCCESS;
    }
    object_ptr<GDBusMessage> msg(
        g_dbus_message_new_method_call(destination, path.c_str(), destination, message_name));
    g_dbus_message_set_body(msg.get(), args.get());
    g_dbus_message_set_flags(msg.get(), G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);
    if (!g_dbus_connection_send_message(context->connection, msg.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE,
                                        nullptr, nullptr))
        return ERIPC_ERROR;
    return ERIPC_ERROR_SUCCESS;
}

eripc_error_t send_and_wait_with(eripc_context_t* context, eripc_event_info_t** reply, eripc_bus_t bus,
                                 const char* destination, const char* message_name, va_list ap) {
    if (reply) *reply = nullptr;
    std::string path;
    variant_ptr args;
    eripc_error_t rc = prepare_call(context, bus, destination, message_name, ap, &path, &args);
    if (rc != ERIPC_ERROR_SUCCESS) return rc;

    GError* raw = nullptr;
    variant_ptr result(g_dbus_connection_call_sync(
        context->connection, destination, path.c_str(), destination, message_name, args.get(), nullptr,
        G_DBUS_CALL_FLAGS_NONE, context->timeout_ms, nullptr, &raw));
    error_ptr error(raw);
    if (!result) return error_from_gerror(error.get());
    if (reply)
        *reply =
            std::make_unique<eripc_event_info>(message_name, destination, nullptr, result.get()).release();
    return ERIPC_ERROR_SUCCESS;
}

}  // namespace

eripc_error_t eripc_send_varargs(eripc_context_t* context, eripc_handler_t* reply_handler, void* user_data,
                                 eripc_bus_t bus, const char* destination, const char* message_name, ...) {
    va_list ap;
    va_start(ap, message_name);
    eripc_error_t rc = send_with(context, reply_handler, user_data, bus, destination, message_name, ap);
    va_end(ap);
    return rc;
}

eripc_error_t eripc_send_varargs_and_wait(eripc_context_t* context, eripc_event_info_t** reply,
                                          eripc_bus_t bus, const char* destination, const char* message_name,
                                          ...) {
    va_list ap;
    va_start(ap, message_name);
    eripc_error_t rc = send_and_wait_with(context, reply, bus, destination, message_name, ap);
    va_end(ap);
    return rc;
}

eripc_error_t eripc_get_timeout(eripc_context_t* context, int* timeout_ms) {
    if (!context || !timeout_ms) return ERIPC_ERROR_INVALID;
    *timeout_ms = context->timeout_ms;
    return ERIPC_ERROR_SUCCESS;
}

eripc_error_t eripc_set_timeout(eripc_context_t* context, int timeout_ms) {
    if (!context || timeout_ms <= 0) return ERIPC_ERROR_INVALID;
    context->timeout_ms = timeout_ms;
    return ERIPC_ERROR_SUCCESS;
}
