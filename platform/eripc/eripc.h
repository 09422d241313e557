// Stand-in for the platform's messaging library: messages between applications
// and the platform daemons over D-Bus.
#pragma once

#include <glib.h>

G_BEGIN_DECLS

typedef enum {
    ERIPC_BUS_IRRELEVANT = 0,
    ERIPC_BUS_SYSTEM = 1,
    ERIPC_BUS_SESSION = 2,
    ERIPC_BUS_BOTH = 3
} eripc_bus_t;

typedef enum {
    ERIPC_TYPE_INVALID = 0,  // ends an argument list
    ERIPC_TYPE_BOOL = 1,
    ERIPC_TYPE_BYTE = 2,
    ERIPC_TYPE_INT = 3,
    ERIPC_TYPE_UINT = 4,
    ERIPC_TYPE_DOUBLE = 5,
    ERIPC_TYPE_STRING = 6,
    ERIPC_TYPE_DATA = 7
} eripc_type_t;

typedef enum {
    ERIPC_ERROR_SUCCESS = 0,
    ERIPC_ERROR_INVALID = 1,
    ERIPC_ERROR_OOM = 2,
    ERIPC_ERROR = 3,
    ERIPC_ERROR_TIMEOUT = 4
} eripc_error_t;

typedef struct eripc_context eripc_context_t;
typedef struct eripc_event_info eripc_event_info_t;

typedef void eripc_handler_t(eripc_context_t* context, const eripc_event_info_t* info,
                             void* user_data);

// Creates the application's context and owns "com.irexnet.<name>" on the session bus.
eripc_context_t* eripc_init(const char* name, const char* version, GMainContext* main_context);

eripc_error_t eripc_set_message_handler(eripc_context_t* context, eripc_handler_t* handler,
                                        void* user_data, eripc_bus_t bus, const char* interface,
                                        const char* message_name, int* handler_id);
eripc_error_t eripc_set_signal_handler(eripc_context_t* context, eripc_handler_t* handler,
                                       void* user_data, eripc_bus_t bus, const char* interface,
                                       const char* signal_name, int* handler_id);
eripc_error_t eripc_unset_handler(eripc_context_t* context, int handler_id);

// Argument lists are pairs (eripc_type_t, value) ended by ERIPC_TYPE_INVALID.
eripc_error_t eripc_send_signal_varargs(eripc_context_t* context, eripc_bus_t bus,
                                        const char* object_path, const char* interface,
                                        const char* signal_name, ...);
// Sends a method call without waiting; reply_handler may be NULL (no reply handled).
eripc_error_t eripc_send_varargs(eripc_context_t* context, eripc_handler_t* reply_handler,
                                 void* user_data, eripc_bus_t bus, const char* destination,
                                 const char* message_name, ...);
// Sends a method call and blocks until the reply or the context's timeout.
// reply may be NULL (no reply content collected).
eripc_error_t eripc_send_varargs_and_wait(eripc_context_t* context, eripc_event_info_t** reply,
                                          eripc_bus_t bus, const char* destination,
                                          const char* message_name, ...);

eripc_error_t eripc_get_timeout(eripc_context_t* context, int* timeout_ms);
eripc_error_t eripc_set_timeout(eripc_context_t* context, int timeout_ms);

G_END_DECLS
