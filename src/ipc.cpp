// Messages to the platform's system daemon and popup menu.
#include "ipc.h"

// PENDING(attachments issue): messaging over eripc.
void ipc_set_services() {}
void ipc_unset_services() {}
void ipc_sys_startup_complete() {}
gboolean ipc_sys_start_task(const gchar*, const gchar*, const gchar*, const gchar*) { return FALSE; }
gboolean ipc_sys_stop_task(const gchar*) { return FALSE; }
gboolean ipc_menu_busy_show(gboolean) { return FALSE; }
