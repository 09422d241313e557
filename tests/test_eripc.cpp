// The messaging library on a real session bus, against a peer on a connection of its own.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "eripc.h"
#include "sysd_stub.h"
#include "test_support.h"

namespace {

constexpr const char* kPeer = "com.irexnet.peer";
constexpr const char* kSignals = "com.irexnet.testsig";

struct Seen {
    GDBusMessageType type;
    std::string path, interface, member, args;
    bool no_reply;
};

std::string print(GVariant* v) {
    if (!v) return "()";
    gchar* s = g_variant_print(v, TRUE);
    std::string out = s;
    g_free(s);
    return out;
}

// A second client on the bus that owns kPeer and records what reaches it. It answers on
// GDBus's worker thread, so the test's blocking calls need no main loop: "Fail" gets an
// error, "Silent" nothing, "Pong" the string "pong", anything else an empty reply.
class Peer {
  public:
    Peer() {
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        connection_ = g_dbus_connection_new_for_address_sync(
            address,
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        g_free(address);
        g_dbus_connection_add_filter(connection_, filter, this, nullptr);
        call_bus("AddMatch", g_variant_new("(s)", "type='signal',interface='com.irexnet.testsig'"));
        // Queued behind a peer of an earlier test that the bus has not yet seen go.
        call_bus("RequestName", g_variant_new("(su)", kPeer, 0u));
        EXPECT_TRUE(ryt::iterate_until([&] { return owns_name(); }));
    }
    ~Peer() {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> guard(lock_);
        return seen_;
    }
    bool wait_seen(size_t n) {
        return ryt::iterate_until([&] { return seen().size() >= n; });
    }
    GDBusConnection* connection() { return connection_; }

  private:
    bool owns_name() {
        GVariant* r =
            g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                        "org.freedesktop.DBus", "GetNameOwner", g_variant_new("(s)", kPeer),
                                        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (!r) return false;
        const char* owner = nullptr;
        g_variant_get(r, "(&s)", &owner);
        bool mine = g_strcmp0(owner, g_dbus_connection_get_unique_name(connection_)) == 0;
        g_variant_unref(r);
        return mine;
    }

    void call_bus(const char* method, GVariant* args) {
        GVariant* r = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
            args, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        ASSERT_NE(r, nullptr);
        g_variant_unref(r);
    }

    static GDBusMessage* filter(GDBusConnection* connection, GDBusMessage* msg, gboolean incoming,
                                gpointer data) {
        auto* self = static_cast<Peer*>(data);
        GDBusMessageType type = g_dbus_message_get_message_type(msg);
        const char* interface = g_dbus_message_get_interface(msg);
        bool call = type == G_DBUS_MESSAGE_TYPE_METHOD_CALL &&
                    g_strcmp0(g_dbus_message_get_destination(msg), kPeer) == 0;
        bool signal = type == G_DBUS_MESSAGE_TYPE_SIGNAL && g_strcmp0(interface, kSignals) == 0;
        if (!incoming || !(call || signal)) return msg;
        {
            std::lock_guard<std::mutex> guard(self->lock_);
            self->seen_.push_back(
                Seen{type, g_dbus_message_get_path(msg), interface ? interface : "",
                     g_dbus_message_get_member(msg), print(g_dbus_message_get_body(msg)),
                     (g_dbus_message_get_flags(msg) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED) != 0});
        }
        if (signal) return msg;
        std::string member = g_dbus_message_get_member(msg);
        GDBusMessage* reply = nullptr;
        if (member == "Fail")
            reply = g_dbus_message_new_method_error_literal(msg, "com.irexnet.peer.Error.Failed", "no");
        else if (member == "Pong") {
            reply = g_dbus_message_new_method_reply(msg);
            g_dbus_message_set_body(reply, g_variant_new("(s)", "pong"));
        } else if (member != "Silent")
            reply = g_dbus_message_new_method_reply(msg);
        if (reply) {
            g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                           nullptr);
            g_object_unref(reply);
        }
        g_object_unref(msg);
        return nullptr;
    }

    GDBusConnection* connection_ = nullptr;
    std::mutex lock_;
    std::vector<Seen> seen_;
};

// A context named "ryxtest", released after each test.
class Eripc : public testing::Test {
  protected:
    void SetUp() override {
        context_ = eripc_init("ryxtest", "1.0", nullptr);
        ASSERT_NE(context_, nullptr);
    }
    void TearDown() override { eripc_destroy(context_); }
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

TEST(EripcInit, NullOnlyForNamesThatMakeNoService) {
    EXPECT_EQ(eripc_init(nullptr, "1.0", nullptr), nullptr);
    EXPECT_EQ(eripc_init("", "1.0", nullptr), nullptr);
    EXPECT_EQ(eripc_init("two words", "1.0", nullptr), nullptr);
    EXPECT_EQ(eripc_init("a..b", "1.0", nullptr), nullptr);
    EXPECT_EQ(eripc_init("9lives", "1.0", nullptr), nullptr);
}

TEST(EripcInit, WithoutSessionBusTheContextExistsAndEverySendFails) {
    std::string saved = g_getenv("DBUS_SESSION_BUS_ADDRESS") ? g_getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    ryt::TempDir dir;
    g_setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), TRUE);
    eripc_context_t* context = eripc_init("ryxnobus", "1.0", nullptr);
    g_setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), TRUE);
    ASSERT_NE(context, nullptr);

    EXPECT_EQ(eripc_send_varargs(context, nullptr, nullptr, ERIPC_BUS_SESSION, kPeer, "Note",
                                 ERIPC_TYPE_STRING, "x", ERIPC_TYPE_INVALID),
              ERIPC_ERROR);
    EXPECT_EQ(
        eripc_send_varargs_and_wait(context, nullptr, ERIPC_BUS_SESSION, kPeer, "Note", ERIPC_TYPE_INVALID),
        ERIPC_ERROR);
    EXPECT_EQ(eripc_send_signal_varargs(context, ERIPC_BUS_SESSION, "/com/irexnet/ryxnobus", kSignals,
                                        "Hello", ERIPC_TYPE_INVALID),
              ERIPC_ERROR);
    Received r;
    int id = 0;
    EXPECT_EQ(eripc_set_signal_handler(context, record, &r, ERIPC_BUS_SESSION, kSignals, "Hello", &id),
              ERIPC_ERROR);
    EXPECT_EQ(eripc_set_timeout(context, 100), ERIPC_ERROR_SUCCESS);
    eripc_destroy(context);
}

TEST(EripcTimeout, DefaultAndRoundTrip) {
    eripc_context_t* context = eripc_init("ryxtimeout", "1.0", nullptr);
    int timeout = 0;
    ASSERT_EQ(eripc_get_timeout(context, &timeout), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(timeout, ERIPC_DEFAULT_TIMEOUT);
    EXPECT_EQ(eripc_set_timeout(context, 60000), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(eripc_get_timeout(context, &timeout), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(timeout, 60000);
    EXPECT_EQ(eripc_set_timeout(context, 0), ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_set_timeout(context, -1), ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_get_timeout(context, &timeout), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(timeout, 60000);
    EXPECT_EQ(eripc_get_timeout(context, nullptr), ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_get_timeout(nullptr, &timeout), ERIPC_ERROR_INVALID);
    eripc_destroy(context);
}

TEST_F(Eripc, CallWithoutWaitingCarriesTypedArgumentsToDerivedObject) {
    Peer peer;
    EXPECT_EQ(
        eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kPeer, "Note", ERIPC_TYPE_BOOL,
                           TRUE, ERIPC_TYPE_BYTE, 200, ERIPC_TYPE_INT, -7, ERIPC_TYPE_UINT, 4000000000u,
                           ERIPC_TYPE_DOUBLE, 0.5, ERIPC_TYPE_STRING, "a \"b\" é", ERIPC_TYPE_INVALID),
        ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(peer.wait_seen(1));
    Seen s = peer.seen()[0];
    EXPECT_EQ(s.path, "/com/irexnet/peer");
    EXPECT_EQ(s.interface, kPeer);
    EXPECT_EQ(s.member, "Note");
    GVariant* expected =
        g_variant_ref_sink(g_variant_new("(byiuds)", TRUE, 200, -7, 4000000000u, 0.5, "a \"b\" é"));
    EXPECT_EQ(s.args, print(expected));
    g_variant_unref(expected);
    EXPECT_TRUE(s.no_reply);
}

TEST_F(Eripc, CallsArriveInTheOrderSent) {
    Peer peer;
    ASSERT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kPeer, "First",
                                 ERIPC_TYPE_STRING, "show", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_EQ(eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, kPeer, "Second",
                                          ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_EQ(
        eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kPeer, "Third", ERIPC_TYPE_INVALID),
        ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(peer.wait_seen(3));
    auto seen = peer.seen();
    EXPECT_EQ(seen[0].member, "First");
    EXPECT_EQ(seen[1].member, "Second");
    EXPECT_FALSE(seen[1].no_reply);
    EXPECT_EQ(seen[2].member, "Third");
}

TEST_F(Eripc, WaitGivesSuccessOnReplyAndCollectsIt) {
    Peer peer;
    EXPECT_EQ(eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, kPeer, "Echo",
                                          ERIPC_TYPE_STRING, "x", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    eripc_event_info_t* reply = nullptr;
    ASSERT_EQ(
        eripc_send_varargs_and_wait(context_, &reply, ERIPC_BUS_SESSION, kPeer, "Pong", ERIPC_TYPE_INVALID),
        ERIPC_ERROR_SUCCESS);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(print(eripc_event_info_get_args(reply)), "('pong',)");
    eripc_event_info_free(reply);
}

TEST_F(Eripc, WaitGivesErrorForErrorReplyOrMissingService) {
    Peer peer;
    eripc_event_info_t* reply = nullptr;
    EXPECT_EQ(
        eripc_send_varargs_and_wait(context_, &reply, ERIPC_BUS_SESSION, kPeer, "Fail", ERIPC_TYPE_INVALID),
        ERIPC_ERROR);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, "com.irexnet.nobody", "Echo",
                                          ERIPC_TYPE_INVALID),
              ERIPC_ERROR);
}

TEST_F(Eripc, WaitTimesOutWhenThePeerStaysSilent) {
    Peer peer;
    ASSERT_EQ(eripc_set_timeout(context_, 300), ERIPC_ERROR_SUCCESS);
    gint64 start = g_get_monotonic_time();
    EXPECT_EQ(eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, kPeer, "Silent",
                                          ERIPC_TYPE_INVALID),
              ERIPC_ERROR_TIMEOUT);
    gint64 elapsed_ms = (g_get_monotonic_time() - start) / 1000;
    EXPECT_GE(elapsed_ms, 250);
    EXPECT_LT(elapsed_ms, 5000);
    ASSERT_TRUE(peer.wait_seen(1));
    EXPECT_EQ(peer.seen()[0].member, "Silent");
}

TEST_F(Eripc, ReplyHandlerGetsTheReplyInTheMainLoop) {
    Peer peer;
    Received r;
    ASSERT_EQ(eripc_send_varargs(context_, record, &r, ERIPC_BUS_SESSION, kPeer, "Pong", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(ryt::iterate_until([&] { return r.calls > 0; }));
    EXPECT_EQ(r.args, "('pong',)");
    EXPECT_FALSE(peer.seen()[0].no_reply);
}

TEST_F(Eripc, UnsendableArgumentsAndBusesAreRefusedAndNothingIsSent) {
    Peer peer;
    EXPECT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kPeer, "Data",
                                 ERIPC_TYPE_DATA, "xy", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_INVALID);
    EXPECT_EQ(
        eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, kPeer, "Null", ERIPC_TYPE_STRING,
                                    static_cast<const char*>(nullptr), ERIPC_TYPE_INVALID),
        ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kPeer, "Latin1",
                                 ERIPC_TYPE_STRING, "caf\xe9", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_INVALID);
    EXPECT_EQ(
        eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SYSTEM, kPeer, "System", ERIPC_TYPE_INVALID),
        ERIPC_ERROR);
    EXPECT_EQ(
        eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_BOTH, kPeer, "Both", ERIPC_TYPE_INVALID),
        ERIPC_ERROR);
    EXPECT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_IRRELEVANT, kPeer, "Irrelevant",
                                 ERIPC_TYPE_INVALID),
              ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, "not a name", "Bad",
                                 ERIPC_TYPE_INVALID),
              ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_send_signal_varargs(context_, ERIPC_BUS_SESSION, "no/path", kSignals, "Hello",
                                        ERIPC_TYPE_INVALID),
              ERIPC_ERROR_INVALID);
    // A last good call: everything before it would have arrived first.
    ASSERT_EQ(
        eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, kPeer, "Last", ERIPC_TYPE_INVALID),
        ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(peer.wait_seen(1));
    EXPECT_EQ(peer.seen().size(), 1u);
    EXPECT_EQ(peer.seen()[0].member, "Last");
}

TEST_F(Eripc, SignalCarriesPathInterfaceAndArguments) {
    Peer peer;
    ASSERT_EQ(eripc_send_signal_varargs(context_, ERIPC_BUS_SESSION, "/com/irexnet/ryxtest", kSignals,
                                        "startupComplete", ERIPC_TYPE_STRING, "ryx", ERIPC_TYPE_INT, 1234,
                                        ERIPC_TYPE_BOOL, TRUE, ERIPC_TYPE_STRING, "com.irexnet.ryx",
                                        ERIPC_TYPE_INT, 4194305, ERIPC_TYPE_BOOL, TRUE, ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(peer.wait_seen(1));
    Seen s = peer.seen()[0];
    EXPECT_EQ(s.type, G_DBUS_MESSAGE_TYPE_SIGNAL);
    EXPECT_EQ(s.path, "/com/irexnet/ryxtest");
    EXPECT_EQ(s.interface, kSignals);
    EXPECT_EQ(s.member, "startupComplete");
    EXPECT_EQ(s.args, "('ryx', 1234, true, 'com.irexnet.ryx', 4194305, true)");
}

// Sends a method call from the peer to our object and runs the main loop until its reply.
// Returns the reply's error name, or "" for a plain reply.
std::string call_from_peer(Peer& peer, const char* member, GVariant* args) {
    GDBusMessage* msg = g_dbus_message_new_method_call("com.irexnet.ryxtest", "/com/irexnet/ryxtest",
                                                       "com.irexnet.ryxtest", member);
    g_dbus_message_set_body(msg, args);
    GDBusMessage* reply = nullptr;
    g_dbus_connection_send_message_with_reply(
        peer.connection(), msg, G_DBUS_SEND_MESSAGE_FLAGS_NONE, 5000, nullptr, nullptr,
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
    Peer peer;
    Received r;
    int id = 0;
    ASSERT_EQ(eripc_set_message_handler(context_, record, &r, ERIPC_BUS_SESSION, "com.irexnet.ryxtest",
                                        "Poke", &id),
              ERIPC_ERROR_SUCCESS);
    EXPECT_GT(id, 0);
    EXPECT_EQ(call_from_peer(peer, "Poke", g_variant_new("(si)", "hi", 3)), "");
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.name, "Poke");
    EXPECT_EQ(r.interface, "com.irexnet.ryxtest");
    EXPECT_EQ(r.args, "('hi', 3)");
    // A name without a handler is not ours to answer.
    EXPECT_EQ(call_from_peer(peer, "Prod", nullptr), "org.freedesktop.DBus.Error.UnknownMethod");

    EXPECT_EQ(eripc_unset_handler(context_, id), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(call_from_peer(peer, "Poke", g_variant_new("(si)", "again", 4)),
              "org.freedesktop.DBus.Error.UnknownMethod");
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(eripc_unset_handler(context_, id), ERIPC_ERROR_INVALID);
}

TEST_F(Eripc, SignalHandlerGetsItsSignalsOnlyUntilUnset) {
    Peer peer;
    Received ping, pong;
    int ping_id = 0, pong_id = 0;
    ASSERT_EQ(
        eripc_set_signal_handler(context_, record, &ping, ERIPC_BUS_SESSION, kSignals, "Ping", &ping_id),
        ERIPC_ERROR_SUCCESS);
    ASSERT_EQ(
        eripc_set_signal_handler(context_, record, &pong, ERIPC_BUS_SESSION, kSignals, "Pong", &pong_id),
        ERIPC_ERROR_SUCCESS);
    EXPECT_GT(ping_id, 0);
    EXPECT_GT(pong_id, 0);
    EXPECT_NE(ping_id, pong_id);

    auto emit = [&](const char* name, int value) {
        ASSERT_TRUE(g_dbus_connection_emit_signal(peer.connection(), nullptr, "/any/path", kSignals, name,
                                                  g_variant_new("(i)", value), nullptr));
    };
    emit("Ping", 42);
    emit("Pong", 1);
    ASSERT_TRUE(ryt::iterate_until([&] { return pong.calls == 1; }));
    EXPECT_EQ(ping.calls, 1);
    EXPECT_EQ(ping.name, "Ping");
    EXPECT_EQ(ping.interface, kSignals);
    EXPECT_EQ(ping.args, "(42,)");
    EXPECT_EQ(pong.args, "(1,)");

    EXPECT_EQ(eripc_unset_handler(context_, ping_id), ERIPC_ERROR_SUCCESS);
    emit("Ping", 43);
    emit("Pong", 2);
    ASSERT_TRUE(ryt::iterate_until([&] { return pong.calls == 2; }));
    EXPECT_EQ(ping.calls, 1);
    EXPECT_EQ(ping.args, "(42,)");
}

TEST_F(Eripc, HandlerRegistrationChecksItsArguments) {
    Received r;
    int id = 0;
    EXPECT_EQ(eripc_set_message_handler(context_, nullptr, &r, ERIPC_BUS_SESSION, "com.irexnet.ryxtest",
                                        "Poke", &id),
              ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_set_signal_handler(context_, record, &r, ERIPC_BUS_SESSION, "bad interface", "Poke", &id),
              ERIPC_ERROR_INVALID);
    EXPECT_EQ(eripc_set_signal_handler(context_, record, &r, ERIPC_BUS_SYSTEM, kSignals, "Poke", &id),
              ERIPC_ERROR);
    EXPECT_EQ(eripc_unset_handler(context_, 12345), ERIPC_ERROR_INVALID);
}

}  // namespace
