// Messages to the platform's system daemon and popup menu.
#pragma once

#include "gtk_include.h"

// Called once, from the main loop, with the outcome of a "startTask": TRUE when the
// daemon accepted the task, FALSE on a refusal, a timeout or no daemon at all.
typedef void (*ipc_task_started_t)(gboolean ok, gpointer user_data);

// With no session bus named in the environment, names the user's own bus when there
// is one, and otherwise an address that nothing can reach: no library the program
// uses may launch a bus daemon of its own (which would outlive the program).
void ipc_keep_off_absent_bus();
void ipc_set_services();
void ipc_unset_services();
void ipc_sys_startup_complete();
// Sends "startTask" without waiting, with its own reply timeout, between a
// "setBusyShow" show and the hide that goes out when the answer (or the timeout)
// comes; then calls started.
void ipc_sys_start_task(const gchar* cmd_line, const gchar* work_dir, const gchar* label,
                        const gchar* thumbnail_path, ipc_task_started_t started, gpointer user_data);
// At shutdown: hides the busy indication that an unanswered "startTask" showed.
void ipc_end_pending_tasks();
gboolean ipc_sys_stop_task(const gchar* cmd_line);
gboolean ipc_menu_busy_show(gboolean look_busy);
