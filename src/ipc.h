// Messages to the platform's system daemon and popup menu.
#pragma once

#include "gtk_include.h"

void ipc_set_services();
void ipc_unset_services();
void ipc_sys_startup_complete();
gboolean ipc_sys_start_task(const gchar* cmd_line, const gchar* work_dir, const gchar* label,
                            const gchar* thumbnail_path);
gboolean ipc_sys_stop_task(const gchar* cmd_line);
gboolean ipc_menu_busy_show(gboolean look_busy);
