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

typedef void eripc_handler_t(eripc_context_t* context, const eripc_event_info_t* info, void* user_data);

// Only the session bus is served: ERIPC_BUS_SYSTEM and ERIPC_BUS_BOTH give ERIPC_ERROR,
// ERIPC_BUS_IRRELEVANT and unknown values ERIPC_ERROR_INVALID.

// Reply timeout of a new context, in milliseconds (the usual D-Bus default).
#define ERIPC_DEFAULT_TIMEOUT 25000

// Creates the application's context on a connection of its own to the session bus,
// asks for the name "com.irexnet.<name>" and serves the object "/com/irexnet/<name>".
// Handlers run in main_context (NULL: the thread's default context at this call).
//
// Returns NULL only when name is NULL, empty or does not make a valid bus name.
// A reader who only browses must not be locked out because no daemon runs: when the
// session bus cannot be reached the context is still returned, and every send and
// handler registration on it gives ERIPC_ERROR. When another process holds the name,
// the request waits in the bus's queue and the context works all the same.
// The context is released with eripc_destroy (programs usually keep it until exit).
eripc_context_t* eripc_init(const char* name, const char* version, GMainContext* main_context);
void eripc_destroy(eripc_context_t* context);

// Message handlers receive method calls addressed to the application's object on the given
// interface (NULL: any interface) and name; the caller gets an empty reply after the
// handler returns. Signal handlers receive the signals of that interface and name from any
// sender and path; once the call returns, such signals are delivered. Ids are > 0.
eripc_error_t eripc_set_message_handler(eripc_context_t* context, eripc_handler_t* handler, void* user_data,
                                        eripc_bus_t bus, const char* interface, const char* message_name,
                                        int* handler_id);
eripc_error_t eripc_set_signal_handler(eripc_context_t* context, eripc_handler_t* handler, void* user_data,
                                       eripc_bus_t bus, const char* interface, const char* signal_name,
                                       int* handler_id);
// ERIPC_ERROR_INVALID for an id that is not (or no longer) registered.
eripc_error_t eripc_unset_handler(eripc_context_t* context, int handler_id);

// What a handler is told about a message; valid during the handler call (or, for a reply
// collected by eripc_send_varargs_and_wait, until eripc_event_info_free).
const char* eripc_event_info_get_name(const eripc_event_info_t* info);
const char* eripc_event_info_get_interface(const eripc_event_info_t* info);
const char* eripc_event_info_get_sender(const eripc_event_info_t* info);
// The arguments as a tuple, owned by the event.
GVariant* eripc_event_info_get_args(const eripc_event_info_t* info);
void eripc_event_info_free(eripc_event_info_t* info);

// Argument lists are pairs (eripc_type_t, value) ended by ERIPC_TYPE_INVALID. BOOL, BYTE,
// INT and UINT take an int-sized value, DOUBLE a double, STRING a UTF-8 char* (never NULL).
// DATA is not supported: ERIPC_ERROR_INVALID, and nothing is sent.
//
// A method call to service "a.b.c" goes to object "/a/b/c" with interface "a.b.c" (characters
// that an object path cannot hold become '_').

eripc_error_t eripc_send_signal_varargs(eripc_context_t* context, eripc_bus_t bus, const char* object_path,
                                        const char* interface, const char* signal_name, ...);
// Sends a method call without waiting. With reply_handler NULL no reply is asked for;
// otherwise the handler gets the reply (or the error reply) in the context's main context.
// ERIPC_ERROR_SUCCESS means the message was handed to the bus connection.
eripc_error_t eripc_send_varargs(eripc_context_t* context, eripc_handler_t* reply_handler, void* user_data,
                                 eripc_bus_t bus, const char* destination, const char* message_name, ...);
// Sends a method call and blocks, without running any main loop, until the reply or the
// context's timeout. ERIPC_ERROR_SUCCESS on a reply, ERIPC_ERROR_TIMEOUT when none came in
// time, ERIPC_ERROR for an error reply or a service that is not there. reply may be NULL
// (no reply content collected); otherwise *reply gets the reply on success (free it with
// eripc_event_info_free) and NULL on failure.
eripc_error_t eripc_send_varargs_and_wait(eripc_context_t* context, eripc_event_info_t** reply,
                                          eripc_bus_t bus, const char* destination, const char* message_name,
                                          ...);

// The timeout is a positive number of milliseconds; other values give ERIPC_ERROR_INVALID.
eripc_error_t eripc_get_timeout(eripc_context_t* context, int* timeout_ms);
eripc_error_t eripc_set_timeout(eripc_context_t* context, int timeout_ms);

G_END_DECLS
