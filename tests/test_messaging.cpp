// The messages to the system daemon and the popup menu, as the daemon stand-in
// receives them on a private session bus.
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

// Starts a task and runs the main loop until its outcome; returns it and how long the
// start call itself kept the loop from running.
struct Outcome {
    std::optional<bool> accepted;
    gint64 call_ms = 0;
};
Outcome start_task(const char* cmd_line, const char* work_dir, const char* label, const char* thumbnail) {
    Outcome out;
    gint64 start = g_get_monotonic_time();
    ipc_sys_start_task(
        cmd_line, work_dir, label, thumbnail,
        +[](gboolean ok, gpointer data) { static_cast<Outcome*>(data)->accepted = ok != FALSE; }, &out);
    out.call_ms = (g_get_monotonic_time() - start) / 1000;
    ryt::iterate_until([&] { return out.accepted.has_value(); }, 20000);
    return out;
}

class Messaging : public testing::Test {
  protected:
    void SetUp() override {
        // Started by the first test, so that a failure to start it fails that test.
        static bool connected = false;
        ryt::PrivateSession::shared();
        if (!connected) ipc_set_services();
        connected = true;
    }
};

TEST_F(Messaging, EachTaskIsFramedByOneShowAndOneHide) {
    ryt::SysdStub stub({"--no-exec"});
    EXPECT_EQ(start_task("viewer \"/l/storage/K/a.pdf\"", "/l/storage/K", "a.pdf", "/icon.png").accepted,
              true);
    EXPECT_EQ(start_task("two", "/w", "2", "").accepted, true);
    ASSERT_TRUE(stub.wait_for_messages(6));
    g_usleep(100000);
    auto messages = stub.messages();
    EXPECT_EQ(ryt::briefs(messages),
              (Strings{"setBusyShow:show", "startTask:viewer \"/l/storage/K/a.pdf\"", "setBusyShow:hide",
                       "setBusyShow:show", "startTask:two", "setBusyShow:hide"}));
    EXPECT_EQ(messages[0].destination, "com.irexnet.popupmenu");
    EXPECT_EQ(messages[1].destination, "com.irexnet.sysd");
    EXPECT_EQ(messages[1].args,
              (Strings{"s:viewer \"/l/storage/K/a.pdf\"", "s:/l/storage/K", "s:a.pdf", "s:/icon.png"}));
}

// Accepted, refused, unanswered, or no daemon at all: the call never waits, the timeout is
// put back and busy hidden.
TEST_F(Messaging, EveryOutcomeRestoresTheTimeoutAndHidesBusy) {
    const std::vector<std::pair<std::string, bool>> daemons{
        {"--no-exec", true}, {"--refuse", false}, {"--silent", false}, {"", false}};
    // The task's timeout, not the context's long one, must be the one used.
    ipc_set_start_task_timeout(400);
    for (const auto& [option, accepted] : daemons) {
        std::optional<ryt::SysdStub> stub;
        if (!option.empty()) stub.emplace(Strings{option});
        ASSERT_EQ(eripc_set_timeout(ipc_get_context(), 30000), ERIPC_ERROR_SUCCESS);
        gint64 start = g_get_monotonic_time();
        Outcome outcome = start_task("viewer x", "/w", "x", "");
        gint64 waited_ms = (g_get_monotonic_time() - start) / 1000;
        EXPECT_EQ(outcome.accepted, accepted) << option;
        EXPECT_LT(outcome.call_ms, 200) << option;
        if (option == "--silent") {
            EXPECT_GE(waited_ms, 350);
        }
        int ms = -1;
        EXPECT_EQ(eripc_get_timeout(ipc_get_context(), &ms), ERIPC_ERROR_SUCCESS);
        EXPECT_EQ(ms, 30000) << option;
        if (!stub) continue;
        ASSERT_TRUE(stub->wait_for_messages(3));
        EXPECT_EQ(ryt::briefs(stub->messages()),
                  (Strings{"setBusyShow:show", "startTask:viewer x", "setBusyShow:hide"}))
            << option;
    }
}

TEST_F(Messaging, StopTaskAndBusyShowAreSentAlone) {
    ryt::SysdStub stub({"--no-exec"});
    EXPECT_TRUE(ipc_menu_busy_show(TRUE));
    EXPECT_TRUE(ipc_menu_busy_show(FALSE));
    EXPECT_TRUE(ipc_sys_stop_task("viewer \"/a b\""));
    ASSERT_TRUE(stub.wait_for_messages(3));
    g_usleep(100000);
    EXPECT_EQ(ryt::briefs(stub.messages()),
              (Strings{"setBusyShow:show", "setBusyShow:hide", "stopTask:viewer \"/a b\""}));
    EXPECT_EQ(stub.messages()[2].destination, "com.irexnet.sysd");
}

}  // namespace
