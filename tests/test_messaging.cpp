// The messages to the system daemon and the popup menu, as the daemon stand-in
// receives them on a private session bus, and the messaging library without a bus.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "eripc.h"
#include "ipc.h"
#include "private_session.h"
#include "ry_test_hooks.h"
#include "sysd_stub.h"

namespace {

using Strings = std::vector<std::string>;

// Each message the stub got: its destination and its short form.
Strings sent(const ryt::SysdStub& stub) {
    Strings out;
    for (const auto& m : stub.messages()) out.push_back(m.destination + " " + ryt::brief(m));
    return out;
}

class Messaging : public testing::Test {
  protected:
    void SetUp() override {
        // Started by the first test, so that a failure to start it fails that test.
        ryt::PrivateSession::shared();
        [[maybe_unused]] static const bool connected = (ipc_set_services(), true);
    }
};

// Accepted, refused, unanswered, or no daemon at all: the task goes to the daemon between
// one busy show and one hide to the popup menu; the call never waits, the task's own
// timeout is used and the context's put back. Stopping a task is one message.
TEST_F(Messaging, EveryOutcomeIsFramedByBusyAndRestoresTheTimeout) {
    const std::vector<std::pair<std::string, bool>> daemons{
        {"--no-exec", true}, {"--refuse", false}, {"--silent", false}, {"", false}};
    ipc_set_start_task_timeout(400);
    for (const auto& [option, accepted] : daemons) {
        std::optional<ryt::SysdStub> stub;
        if (!option.empty()) stub.emplace(Strings{option});
        ASSERT_EQ(eripc_set_timeout(ipc_get_context(), 30000), ERIPC_ERROR_SUCCESS);
        std::optional<bool> outcome;
        gint64 start = g_get_monotonic_time();
        ipc_sys_start_task(
            "viewer \"/l/K/a b.pdf\"", "/l/K", "a b.pdf", "/icon.png",
            +[](gboolean ok, gpointer out) { *static_cast<std::optional<bool>*>(out) = ok != FALSE; },
            &outcome);
        EXPECT_LT(g_get_monotonic_time() - start, 200000) << option;
        ryt::iterate_until([&] { return outcome.has_value(); }, 20000);
        EXPECT_EQ(outcome, accepted) << option;
        if (option == "--silent") {
            EXPECT_GE(g_get_monotonic_time() - start, 350000);
        }
        int ms = -1;
        EXPECT_EQ(eripc_get_timeout(ipc_get_context(), &ms), ERIPC_ERROR_SUCCESS);
        EXPECT_EQ(ms, 30000) << option;
        if (!stub) continue;
        // Stopping a task is one message to the daemon, without busy around it.
        EXPECT_TRUE(ipc_sys_stop_task("viewer x"));
        ASSERT_TRUE(stub->wait_for_messages(4));
        ryt::iterate_until([] { return false; }, 100);
        EXPECT_EQ(sent(*stub),
                  (Strings{"com.irexnet.popupmenu setBusyShow:show",
                           "com.irexnet.sysd startTask:viewer \"/l/K/a b.pdf\"",
                           "com.irexnet.popupmenu setBusyShow:hide", "com.irexnet.sysd stopTask:viewer x"}))
            << option;
        EXPECT_EQ(stub->messages()[1].args,
                  (Strings{"s:viewer \"/l/K/a b.pdf\"", "s:/l/K", "s:a b.pdf", "s:/icon.png"}));
    }
}

// A reader who only browses must not be locked out because no bus runs.
TEST(EripcInit, WithoutSessionBusTheContextExistsAndSendsFail) {
    std::string saved = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    ryt::TempDir dir;
    g_setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), TRUE);
    eripc_context_t* context = eripc_init("ryxnobus", "1.0", nullptr);
    g_setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), TRUE);
    ASSERT_NE(context, nullptr);
    const char* sysd = "com.irexnet.sysd";
    EXPECT_EQ(
        eripc_send_varargs(context, nullptr, nullptr, ERIPC_BUS_SESSION, sysd, "Note", ERIPC_TYPE_INVALID),
        ERIPC_ERROR);
    EXPECT_EQ(
        eripc_send_varargs_and_wait(context, nullptr, ERIPC_BUS_SESSION, sysd, "Note", ERIPC_TYPE_INVALID),
        ERIPC_ERROR);
    eripc_destroy(context);
}

}  // namespace
