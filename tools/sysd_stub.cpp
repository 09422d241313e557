// ryx-sysd-stub: plays the platform's system daemon and popup menu on the session bus for
// tests and demos. It logs every message it gets and starts the commands it is asked to.
//
//   ryx-sysd-stub [--log FILE] [--refuse | --silent] [--no-exec]
//
// Owns "com.irexnet.sysd" and "com.irexnet.popupmenu", then prints "ready" on standard
// output. Each message is one line of the log (standard error without --log), written and
// flushed in arrival order, fields separated by tabs:
//
//   call    DESTINATION  PATH  INTERFACE  MEMBER  ARG...
//   signal  DESTINATION  PATH  INTERFACE  MEMBER  ARG...
//
// A missing field is "-" (a broadcast signal has no destination). Each ARG is its D-Bus type
// code, ':' and its value: "s:text", "i:-3", "u:7", "y:255", "b:true", "d:0.5"; other types
// in GVariant text form. Backslash, tab, newline and carriage return in values are written
// as \\, \t, \n and \r. Method calls to either name are logged, and signals on the
// interfaces "com.irexnet.sysd" and "com.irexnet.popupmenu".
//
// "startTask" (cmd_line, work_dir, label, thumbnail) runs cmd_line split into words as a shell
// would split them, without a shell, in work_dir, and replies with no arguments; a command
// that cannot be parsed or started gets an error reply. --refuse answers every "startTask"
// with an error, --silent never answers it, --no-exec answers without running anything.
// Other calls get an empty reply when one is asked for.
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "ry_raii.h"

namespace {

constexpr const char* kSysd = "com.irexnet.sysd";
constexpr const char* kMenu = "com.irexnet.popupmenu";

struct Options {
    gchar* log = nullptr;
    gboolean refuse = FALSE;
    gboolean silent = FALSE;
    gboolean no_exec = FALSE;
};

struct Stub {
    Options options;
    FILE* log = stderr;
    GMainLoop* loop = nullptr;
};

template <class T>
using object_ptr = ry::gobject_ptr<T>;
using ry::gchar_ptr;

std::string escape(const char* s) {
    std::string out;
    for (; *s; ++s) {
        switch (*s) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += *s;
        }
    }
    return out;
}

std::string format_value(GVariant* v) {
    std::string out = g_variant_get_type_string(v);
    out += ':';
    char buf[G_ASCII_DTOSTR_BUF_SIZE];
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN))
        out += g_variant_get_boolean(v) ? "true" : "false";
    else if (g_variant_is_of_type(v, G_VARIANT_TYPE_BYTE))
        out += std::to_string(g_variant_get_byte(v));
    else if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32))
        out += std::to_string(g_variant_get_int32(v));
    else if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32))
        out += std::to_string(g_variant_get_uint32(v));
    else if (g_variant_is_of_type(v, G_VARIANT_TYPE_DOUBLE))
        out += g_ascii_dtostr(buf, sizeof buf, g_variant_get_double(v));
    else if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) ||
             g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH) ||
             g_variant_is_of_type(v, G_VARIANT_TYPE_SIGNATURE))
        out += escape(g_variant_get_string(v, nullptr));
    else
        out += escape(gchar_ptr(g_variant_print(v, FALSE)).get());
    return out;
}

void log_message(Stub* stub, const char* kind, GDBusMessage* msg) {
    auto field = [](const char* s) { return std::string(s ? escape(s) : "-"); };
    std::string line = kind;
    line += '\t' + field(g_dbus_message_get_destination(msg));
    line += '\t' + field(g_dbus_message_get_path(msg));
    line += '\t' + field(g_dbus_message_get_interface(msg));
    line += '\t' + field(g_dbus_message_get_member(msg));
    if (GVariant* body = g_dbus_message_get_body(msg)) {
        for (gsize i = 0; i < g_variant_n_children(body); ++i) {
            GVariant* child = g_variant_get_child_value(body, i);
            line += '\t' + format_value(child);
            g_variant_unref(child);
        }
    }
    line += '\n';
    fputs(line.c_str(), stub->log);
    fflush(stub->log);
}

void send_reply(GDBusConnection* connection, GDBusMessage* call, GDBusMessage* reply) {
    if (!(g_dbus_message_get_flags(call) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED))
        g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
}

void reply_error(GDBusConnection* connection, GDBusMessage* call, const char* name, const char* text) {
    object_ptr<GDBusMessage> reply(g_dbus_message_new_method_error_literal(call, name, text));
    send_reply(connection, call, reply.get());
}

// Starts the command; an error text when it could not be started.
std::string start_task(const char* cmd_line, const char* work_dir) {
    gchar** raw_argv = nullptr;
    GError* error = nullptr;
    if (!g_shell_parse_argv(cmd_line, nullptr, &raw_argv, &error)) {
        std::string text = error->message;
        g_error_free(error);
        return text;
    }
    // Without G_SPAWN_DO_NOT_REAP_CHILD GLib detaches the child, so none is left a zombie.
    gboolean ok = g_spawn_async(*work_dir ? work_dir : nullptr, raw_argv, nullptr, G_SPAWN_SEARCH_PATH,
                                nullptr, nullptr, nullptr, &error);
    g_strfreev(raw_argv);
    if (!ok) {
        std::string text = error->message;
        g_error_free(error);
        return text;
    }
    return {};
}

struct Call {
    Stub* stub;
    object_ptr<GDBusConnection> connection;
    object_ptr<GDBusMessage> message;
};

// Answers a call in the main loop, after the worker thread has logged it.
gboolean answer_call(gpointer data) {
    auto* call = static_cast<Call*>(data);
    GDBusConnection* connection = call->connection.get();
    GDBusMessage* msg = call->message.get();
    const Options& options = call->stub->options;
    const char* member = g_dbus_message_get_member(msg);
    const char* destination = g_dbus_message_get_destination(msg);
    bool to_sysd = destination && strcmp(destination, kSysd) == 0;

    if (to_sysd && strcmp(member, "startTask") == 0) {
        if (options.silent) return G_SOURCE_REMOVE;
        if (options.refuse) {
            reply_error(connection, msg, "com.irexnet.sysd.Error.Refused", "Refused by request");
            return G_SOURCE_REMOVE;
        }
        GVariant* body = g_dbus_message_get_body(msg);
        if (!body || !g_variant_is_of_type(body, G_VARIANT_TYPE("(ssss)"))) {
            reply_error(connection, msg, "org.freedesktop.DBus.Error.InvalidArgs",
                        "startTask takes four strings");
            return G_SOURCE_REMOVE;
        }
        const char *cmd_line = nullptr, *work_dir = nullptr;
        g_variant_get(body, "(&s&s&s&s)", &cmd_line, &work_dir, nullptr, nullptr);
        if (!options.no_exec) {
            std::string failure = start_task(cmd_line, work_dir);
            if (!failure.empty()) {
                fprintf(stderr, "ryx-sysd-stub: cannot start \"%s\": %s\n", cmd_line, failure.c_str());
                reply_error(connection, msg, "com.irexnet.sysd.Error.Failed", failure.c_str());
                return G_SOURCE_REMOVE;
            }
        }
    } else if (!(to_sysd && strcmp(member, "stopTask") == 0) &&
               !(destination && strcmp(destination, kMenu) == 0 && strcmp(member, "setBusyShow") == 0)) {
        reply_error(connection, msg, "org.freedesktop.DBus.Error.UnknownMethod", "Unknown method");
        return G_SOURCE_REMOVE;
    }
    object_ptr<GDBusMessage> reply(g_dbus_message_new_method_reply(msg));
    send_reply(connection, msg, reply.get());
    return G_SOURCE_REMOVE;
}

bool is_ours(const char* name) { return name && (strcmp(name, kSysd) == 0 || strcmp(name, kMenu) == 0); }

// Runs on GDBus's worker thread in arrival order: logs, and passes calls to the main loop.
GDBusMessage* on_message(GDBusConnection* connection, GDBusMessage* msg, gboolean incoming, gpointer data) {
    auto* stub = static_cast<Stub*>(data);
    if (!incoming) return msg;
    const char* interface = g_dbus_message_get_interface(msg);
    switch (g_dbus_message_get_message_type(msg)) {
        case G_DBUS_MESSAGE_TYPE_METHOD_CALL: {
            if (!is_ours(g_dbus_message_get_destination(msg)) || !g_dbus_message_get_member(msg) ||
                (interface && g_str_has_prefix(interface, "org.freedesktop.DBus")))
                return msg;
            log_message(stub, "call", msg);
            auto call = std::make_unique<Call>();
            call->stub = stub;
            call->connection.reset(G_DBUS_CONNECTION(g_object_ref(connection)));
            call->message.reset(msg);
            GSource* source = g_idle_source_new();
            g_source_set_callback(source, answer_call, call.release(),
                                  [](gpointer p) { std::unique_ptr<Call>(static_cast<Call*>(p)); });
            g_source_attach(source, nullptr);
            g_source_unref(source);
            return nullptr;
        }
        case G_DBUS_MESSAGE_TYPE_SIGNAL:
            if (is_ours(interface)) log_message(stub, "signal", msg);
            return msg;
        default:
            return msg;
    }
}

bool own_name(GDBusConnection* connection, const char* name) {
    GError* error = nullptr;
    // DO_NOT_QUEUE: a second daemon must fail, not wait.
    GVariant* result = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", name, 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!result) {
        fprintf(stderr, "ryx-sysd-stub: cannot own %s: %s\n", name, error->message);
        g_error_free(error);
        return false;
    }
    guint32 code = 0;
    g_variant_get(result, "(u)", &code);
    g_variant_unref(result);
    if (code != 1 && code != 4) {
        fprintf(stderr, "ryx-sysd-stub: %s is already owned\n", name);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Stub stub;
    GOptionEntry entries[] = {
        {"log", 0, 0, G_OPTION_ARG_FILENAME, &stub.options.log, "Write the message log to FILE", "FILE"},
        {"refuse", 0, 0, G_OPTION_ARG_NONE, &stub.options.refuse, "Answer startTask with an error", nullptr},
        {"silent", 0, 0, G_OPTION_ARG_NONE, &stub.options.silent, "Never answer startTask", nullptr},
        {"no-exec", 0, 0, G_OPTION_ARG_NONE, &stub.options.no_exec, "Accept startTask without running it",
         nullptr},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr}};
    GOptionContext* parser = g_option_context_new("- system daemon and popup menu stand-in");
    g_option_context_add_main_entries(parser, entries, nullptr);
    GError* error = nullptr;
    gboolean parsed = g_option_context_parse(parser, &argc, &argv, &error);
    g_option_context_free(parser);
    if (!parsed || argc > 1 || (stub.options.refuse && stub.options.silent)) {
        fprintf(
            stderr, "ryx-sysd-stub: %s\n",
            error ? error->message : "usage: ryx-sysd-stub [--log FILE] [--refuse | --silent] [--no-exec]");
        return 2;
    }
    if (stub.options.log) {
        stub.log = fopen(stub.options.log, "w");
        if (!stub.log) {
            perror(stub.options.log);
            return 1;
        }
    }

    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!connection) {
        fprintf(stderr, "ryx-sysd-stub: no session bus: %s\n", error->message);
        return 1;
    }
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    stub.loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect(connection, "closed",
                     G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer loop) {
                         g_main_loop_quit(static_cast<GMainLoop*>(loop));
                     }),
                     stub.loop);
    g_dbus_connection_add_filter(connection, on_message, &stub, nullptr);
    // The match rules that bring us the signals; the filter does the logging.
    for (const char* interface : {kSysd, kMenu})
        g_dbus_connection_signal_subscribe(
            connection, nullptr, interface, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               gpointer) {},
            nullptr, nullptr);
    if (!own_name(connection, kSysd) || !own_name(connection, kMenu)) return 1;
    printf("ready\n");
    fflush(stdout);

    auto quit = +[](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_CONTINUE;
    };
    g_unix_signal_add(SIGTERM, quit, stub.loop);
    g_unix_signal_add(SIGINT, quit, stub.loop);
    g_main_loop_run(stub.loop);

    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    g_main_loop_unref(stub.loop);
    if (stub.log != stderr) fclose(stub.log);
    g_free(stub.options.log);
    return 0;
}
