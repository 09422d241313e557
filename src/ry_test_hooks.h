// Hooks that only the tests call; the program itself never does.
#pragma once

// Drops the file-type registry so that the next lookup reads GConf again (the program
// reads it once per run).
void ry_forget_filetype_info();

// The messaging context (NULL before ipc_set_services), and the reply timeout used
// while starting a task (60000 ms unless changed), so that a silent daemon need not be
// waited for a whole minute.
typedef struct eripc_context eripc_context_t;
eripc_context_t* ipc_get_context();
void ipc_set_start_task_timeout(int timeout_ms);

// Lays the window out for another screen than the one X has, from the next window on.
struct ry_layout;
void ry_set_layout(const ry_layout& layout);
