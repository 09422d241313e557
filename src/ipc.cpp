// Messages to the platform's system daemon and popup menu.
#include "ipc.h"

#include <gdk/gdkx.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "eripc.h"
#include "ry_app.h"
#include "ry_test_hooks.h"

namespace {

const char APP_NAME[] = "ryx";
const char APP_VERSION[] = "1.0";
const char DBUS_SERVICE[] = "com.irexnet.ryx";
const char DBUS_PATH[] = "/com/irexnet/ryx";
const char DBUS_SERVICE_SYSTEM_CONTROL[] = "com.irexnet.sysd";
const char DBUS_SERVICE_POPUP_MENU[] = "com.irexnet.popupmenu";
const int START_TASK_TIMEOUT_MS = 60000;

struct functionEntry {
    eripc_handler_t* handler;
    const gchar* message_name;
    const gchar* interface;  // NULL: a method call to our own interface
    gint handler_id;
};

// The program answers no messages: only the terminating row.
functionEntry service_functions[] = {
    {nullptr, nullptr, nullptr, 0},
};

eripc_context_t* eripcContext = nullptr;
int start_task_timeout_ms = START_TASK_TIMEOUT_MS;
// "startTask" calls sent and not yet answered.
int pending_tasks = 0;

struct TaskReply {
    ipc_task_started_t started;
    gpointer user_data;
};

// The answer, or the end of the wait: busy goes away, then the caller learns the outcome.
void finish_task(TaskReply* raw, gboolean ok) {
    std::unique_ptr<TaskReply> reply(raw);
    --pending_tasks;
    ipc_menu_busy_show(FALSE);
    reply->started(ok, reply->user_data);
}

// An error reply or a timeout comes under the error's name, an answer under the call's.
void on_task_reply(eripc_context_t* /*context*/, const eripc_event_info_t* info, void* data) {
    finish_task(static_cast<TaskReply*>(data), g_strcmp0(eripc_event_info_get_name(info), "startTask") == 0);
}

}  // namespace

void ipc_keep_off_absent_bus() {
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0' && !g_str_has_prefix(address, "autolaunch:")) return;
    // The per-user bus, when the session has one, is the session bus.
    const char* runtime_dir = g_getenv("XDG_RUNTIME_DIR");
    std::string socket = std::string(runtime_dir != nullptr ? runtime_dir : "") + "/bus";
    struct stat st;
    if (runtime_dir != nullptr && stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        g_setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), TRUE);
    else
        // An address that no library can reach, so none of them launches a bus.
        g_setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", TRUE);
}

void ipc_set_services() {
    g_assert(eripcContext == NULL);
    eripcContext = eripc_init(APP_NAME, APP_VERSION, nullptr);
    if (eripcContext == nullptr) exit(1);

    for (functionEntry* row = service_functions; row->handler != nullptr; ++row) {
        if (row->interface == nullptr)
            eripc_set_message_handler(eripcContext, row->handler, nullptr, ERIPC_BUS_SESSION, DBUS_SERVICE,
                                      row->message_name, &row->handler_id);
        else
            eripc_set_signal_handler(eripcContext, row->handler, nullptr, ERIPC_BUS_SESSION, row->interface,
                                     row->message_name, &row->handler_id);
    }
}

void ipc_unset_services() {
    for (functionEntry* row = service_functions; row->handler_id != 0; ++row)
        eripc_unset_handler(eripcContext, row->handler_id);
}

void ipc_sys_startup_complete() {
    const int my_pid = getpid();
    const int my_xid = static_cast<int>(gdk_x11_drawable_get_xid(gtk_widget_get_window(g_main_window)));
    g_assert(eripcContext);
    eripc_send_signal_varargs(eripcContext, ERIPC_BUS_SESSION, DBUS_PATH, DBUS_SERVICE_SYSTEM_CONTROL,
                              "startupComplete", ERIPC_TYPE_STRING, APP_NAME, ERIPC_TYPE_INT, my_pid,
                              ERIPC_TYPE_BOOL, TRUE, ERIPC_TYPE_STRING, DBUS_SERVICE, ERIPC_TYPE_INT, my_xid,
                              ERIPC_TYPE_BOOL, TRUE, ERIPC_TYPE_INVALID);
}

void ipc_sys_start_task(const gchar* cmd_line, const gchar* work_dir, const gchar* label,
                        const gchar* thumbnail_path, ipc_task_started_t started, gpointer user_data) {
    g_assert(eripcContext);
    g_assert(cmd_line && *cmd_line);

    ipc_menu_busy_show(TRUE);
    ++pending_tasks;

    // The call takes the context's timeout when it is sent.
    int old_timeout = 0;
    bool timeout_set = eripc_get_timeout(eripcContext, &old_timeout) == ERIPC_ERROR_SUCCESS &&
                       eripc_set_timeout(eripcContext, start_task_timeout_ms) == ERIPC_ERROR_SUCCESS;
    auto reply = std::make_unique<TaskReply>(TaskReply{started, user_data});
    eripc_error_t sent = eripc_send_varargs(eripcContext, on_task_reply, reply.get(), ERIPC_BUS_SESSION,
                                            DBUS_SERVICE_SYSTEM_CONTROL, "startTask", ERIPC_TYPE_STRING,
                                            cmd_line, ERIPC_TYPE_STRING, work_dir, ERIPC_TYPE_STRING, label,
                                            ERIPC_TYPE_STRING, thumbnail_path, ERIPC_TYPE_INVALID);
    if (timeout_set) eripc_set_timeout(eripcContext, old_timeout);

    if (sent == ERIPC_ERROR_SUCCESS) {
        reply.release();  // the reply handler owns it now
        return;
    }
    // Nothing went out: the caller hears so from the main loop all the same.
    g_idle_add(
        +[](gpointer raw) -> gboolean {
            finish_task(static_cast<TaskReply*>(raw), FALSE);
            return G_SOURCE_REMOVE;
        },
        reply.release());
}

void ipc_end_pending_tasks() {
    if (pending_tasks == 0 || eripcContext == nullptr) return;
    ipc_menu_busy_show(FALSE);
    pending_tasks = 0;
    // Lets the hide out before the process ends.
    eripc_destroy(eripcContext);
    eripcContext = nullptr;
}

gboolean ipc_sys_stop_task(const gchar* cmd_line) {
    g_assert(eripcContext);
    g_assert(cmd_line && *cmd_line);
    return eripc_send_varargs(eripcContext, nullptr, nullptr, ERIPC_BUS_SESSION, DBUS_SERVICE_SYSTEM_CONTROL,
                              "stopTask", ERIPC_TYPE_STRING, cmd_line,
                              ERIPC_TYPE_INVALID) == ERIPC_ERROR_SUCCESS;
}

gboolean ipc_menu_busy_show(gboolean look_busy) {
    g_assert(eripcContext);
    return eripc_send_varargs(eripcContext, nullptr, nullptr, ERIPC_BUS_SESSION, DBUS_SERVICE_POPUP_MENU,
                              "setBusyShow", ERIPC_TYPE_STRING, look_busy ? "show" : "hide",
                              ERIPC_TYPE_INVALID) == ERIPC_ERROR_SUCCESS;
}

eripc_context_t* ipc_get_context() { return eripcContext; }

void ipc_set_start_task_timeout(int timeout_ms) { start_task_timeout_ms = timeout_ms; }
