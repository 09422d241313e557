// The messaging library on a real session bus. The daemon stand-in (which speaks GDBus
// directly) is the peer: it logs what reaches it, gives an empty reply to "stopTask", an error
// to an unknown method, and with --silent never answers "startTask".
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eripc.h"
#include "sysd_stub.h"
#include "test_support.h"

namespace {

constexpr const char* kSysd = "com.irexnet.sysd";

using Strings = std::vector<std::string>;

std::string print(GVariant* v) {
    gchar* s = g_variant_print(v, TRUE);
    std::string out = s;
    g_free(s);
    return out;
}

// A context named "ryxtest", released after each test.
class Eripc : public testing::Test {
  protected:
    void SetUp() override {
        context_ = eripc_init("ryxtest", "1.0", nullptr);
        ASSERT_NE(context_, nullptr);
    }
    void TearDown() override { eripc_destroy(context_); }
    eripc_error_t wait(const char* destination, const char* member) {
        return eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, destination, member,
                                           ERIPC_TYPE_INVALID);
    }
    eripc_context_t* context_ = nullptr;
};

struct Received {
    int calls = 0;
    std::string name, interface, args;
};

void record(eripc_context_t*, const eripc_event_info_t* info, void* data) {
    auto* r = static_cast<Received*>(data);
    ++r->calls;
    r->name = eripc_event_info_get_name(info);
    r->interface = eripc_event_info_get_interface(info);
    r->args = print(eripc_event_info_get_args(info));
}

TEST(EripcInit, OwnsItsNameUntilReleased) {
    eripc_context_t* context = eripc_init("ryxowner", "1.0", nullptr);
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(ryt::bus_name_has_owner("com.irexnet.ryxowner"));
    eripc_destroy(context);
    EXPECT_TRUE(ryt::iterate_until([] { return !ryt::bus_name_has_owner("com.irexnet.ryxowner"); }));
}

// A reader who only browses must not be locked out because no bus runs.
TEST(EripcInit, WithoutSessionBusTheContextExistsAndSendsFail) {
    std::string saved = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    ryt::TempDir dir;
    g_setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), TRUE);
    eripc_context_t* context = eripc_init("ryxnobus", "1.0", nullptr);
    g_setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), TRUE);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(
        eripc_send_varargs(context, nullptr, nullptr, ERIPC_BUS_SESSION, kSysd, "Note", ERIPC_TYPE_INVALID),
        ERIPC_ERROR);
    EXPECT_EQ(
        eripc_send_varargs_and_wait(context, nullptr, ERIPC_BUS_SESSION, kSysd, "Note", ERIPC_TYPE_INVALID),
        ERIPC_ERROR);
    eripc_destroy(context);
}

TEST_F(Eripc, TimeoutHasADefaultAndKeepsOnlyPositiveValues) {
    int timeout = 0;
    ASSERT_EQ(eripc_get_timeout(context_, &timeout), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(timeout, ERIPC_DEFAULT_TIMEOUT);
    EXPECT_EQ(eripc_set_timeout(context_, 60000), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(eripc_set_timeout(context_, 0), ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_get_timeout(context_, &timeout), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(timeout, 60000);
}

TEST_F(Eripc, CallsAndSignalsCarryTypedArgumentsInOrder) {
    ryt::SysdStub stub({"--no-exec"});
    EXPECT_EQ(
        eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kSysd, "stopTask", ERIPC_TYPE_BOOL,
                           TRUE, ERIPC_TYPE_BYTE, 200, ERIPC_TYPE_INT, -7, ERIPC_TYPE_UINT, 4000000000u,
                           ERIPC_TYPE_DOUBLE, 0.5, ERIPC_TYPE_STRING, "a \"b\" é", ERIPC_TYPE_INVALID),
        ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(eripc_send_signal_varargs(context_, ERIPC_BUS_SESSION, "/com/irexnet/ryxtest", kSysd,
                                        "startupComplete", ERIPC_TYPE_STRING, "ryx", ERIPC_TYPE_INT, 1234,
                                        ERIPC_TYPE_BOOL, TRUE, ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(stub.wait_for_messages(2));
    auto m = stub.messages();
    // A call to service "a.b.c" goes to object "/a/b/c", interface "a.b.c".
    EXPECT_EQ(m[0].kind + " " + m[0].path + " " + m[0].interface + " " + m[0].member,
              "call /com/irexnet/sysd com.irexnet.sysd stopTask");
    EXPECT_EQ(m[0].args, (Strings{"b:true", "y:200", "i:-7", "u:4000000000", "d:0.5", "s:a \"b\" é"}));
    EXPECT_EQ(m[1].kind + " " + m[1].path + " " + m[1].interface + " " + m[1].member,
              "signal /com/irexnet/ryxtest com.irexnet.sysd startupComplete");
    EXPECT_EQ(m[1].args, (Strings{"s:ryx", "i:1234", "b:true"}));
}

TEST_F(Eripc, WaitGivesSuccessErrorOrTimeout) {
    ryt::SysdStub stub({"--silent"});
    EXPECT_EQ(wait(kSysd, "stopTask"), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(wait(kSysd, "Unknown"), ERIPC_ERROR);
    EXPECT_EQ(wait("com.irexnet.nobody", "stopTask"), ERIPC_ERROR);
    ASSERT_EQ(eripc_set_timeout(context_, 300), ERIPC_ERROR_SUCCESS);
    gint64 start = g_get_monotonic_time();
    EXPECT_EQ(wait(kSysd, "startTask"), ERIPC_ERROR_TIMEOUT);
    gint64 elapsed_ms = (g_get_monotonic_time() - start) / 1000;
    EXPECT_GE(elapsed_ms, 250);
    EXPECT_LT(elapsed_ms, 5000);
    ASSERT_TRUE(stub.wait_for_messages(3));
    EXPECT_EQ(ryt::briefs(stub.messages()), (Strings{"stopTask", "Unknown", "startTask"}));
}

// The process's shared connection, a peer apart from every eripc context.
GDBusConnection* peer() {
    static GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    return bus;
}

// Sends a method call to our object from the process's shared connection (not the context's)
// and runs the main loop until its reply. Returns the reply's error name, or "" for a plain reply.
std::string call_from_peer(const char* member, GVariant* args) {
    GDBusMessage* msg = g_dbus_message_new_method_call("com.irexnet.ryxtest", "/com/irexnet/ryxtest",
                                                       "com.irexnet.ryxtest", member);
    g_dbus_message_set_body(msg, args);
    GDBusMessage* reply = nullptr;
    g_dbus_connection_send_message_with_reply(
        peer(), msg, G_DBUS_SEND_MESSAGE_FLAGS_NONE, 5000, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            *static_cast<GDBusMessage**>(data) =
                g_dbus_connection_send_message_with_reply_finish(G_DBUS_CONNECTION(source), result, nullptr);
        },
        &reply);
    g_object_unref(msg);
    if (!ryt::iterate_until([&] { return reply != nullptr; })) return "no reply";
    std::string error = g_dbus_message_get_message_type(reply) == G_DBUS_MESSAGE_TYPE_ERROR
                            ? g_dbus_message_get_error_name(reply)
                            : "";
    g_object_unref(reply);
    return error;
}

TEST_F(Eripc, MessageHandlerAnswersCallsOnOwnObjectUntilUnset) {
    Received r;
    int id = 0;
    ASSERT_EQ(eripc_set_message_handler(context_, record, &r, ERIPC_BUS_SESSION, "com.irexnet.ryxtest",
                                        "Poke", &id),
              ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(call_from_peer("Poke", g_variant_new("(si)", "hi", 3)), "");
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.name, "Poke");
    EXPECT_EQ(r.interface, "com.irexnet.ryxtest");
    EXPECT_EQ(r.args, "('hi', 3)");
    EXPECT_EQ(call_from_peer("Prod", nullptr), "org.freedesktop.DBus.Error.UnknownMethod");
    EXPECT_EQ(eripc_unset_handler(context_, id), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(call_from_peer("Poke", nullptr), "org.freedesktop.DBus.Error.UnknownMethod");
    EXPECT_EQ(r.calls, 1);
}

TEST_F(Eripc, SignalHandlerGetsItsSignalsOnlyUntilUnset) {
    Received ping, pong;
    int ping_id = 0, pong_id = 0;
    ASSERT_EQ(eripc_set_signal_handler(context_, record, &ping, ERIPC_BUS_SESSION, kSysd, "Ping", &ping_id),
              ERIPC_ERROR_SUCCESS);
    ASSERT_EQ(eripc_set_signal_handler(context_, record, &pong, ERIPC_BUS_SESSION, kSysd, "Pong", &pong_id),
              ERIPC_ERROR_SUCCESS);
    // Pong, sent last each time, marks when Ping has had its chance to arrive.
    auto emit = [&](int value) {
        for (const char* name : {"Ping", "Pong"})
            ASSERT_TRUE(g_dbus_connection_emit_signal(peer(), nullptr, "/any/path", kSysd, name,
                                                      g_variant_new("(i)", value), nullptr));
        ASSERT_TRUE(ryt::iterate_until([&] { return pong.calls == value; }));
    };
    emit(1);
    EXPECT_EQ(ping.calls, 1);
    EXPECT_EQ(ping.name, "Ping");
    EXPECT_EQ(ping.interface, kSysd);
    EXPECT_EQ(ping.args, "(1,)");
    EXPECT_EQ(eripc_unset_handler(context_, ping_id), ERIPC_ERROR_SUCCESS);
    emit(2);
    EXPECT_EQ(ping.calls, 1);
}

}  // namespace
