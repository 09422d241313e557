// The messages to the system daemon and the popup menu, as the daemon stand-in
// receives them on a private session bus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eripc.h"
#include "ipc.h"
#include "private_session.h"
#include "stub_briefs.h"
#include "sysd_stub.h"

namespace {

using Briefs = std::vector<std::string>;

class Messaging : public testing::Test {
  protected:
    void SetUp() override {
        // Started by the first test, so that a failure to start it fails that test.
        static bool connected = false;
        ryt::PrivateSession::shared();
        if (!connected) ipc_set_services();
        connected = true;
        ipc_set_start_task_timeout(60000);
    }

    int context_timeout() {
        int ms = -1;
        EXPECT_EQ(eripc_get_timeout(ipc_get_context(), &ms), ERIPC_ERROR_SUCCESS);
        return ms;
    }
};

TEST_F(Messaging, AcceptedTaskIsFramedByOneShowAndOneHide) {
    ryt::SysdStub stub({"--no-exec"});
    EXPECT_TRUE(ipc_sys_start_task("viewer \"/l/storage/K/a.pdf\"", "/l/storage/K", "a.pdf",
                                   "/usr/share/ctb/icon-pdf-small.png"));
    ASSERT_TRUE(stub.wait_for_messages(3));
    EXPECT_EQ(ryt::briefs(stub.messages()),
              (Briefs{"setBusyShow:show", "startTask:viewer \"/l/storage/K/a.pdf\"", "setBusyShow:hide"}));

    auto messages = stub.messages();
    EXPECT_EQ(messages[0].destination, "com.irexnet.popupmenu");
    EXPECT_EQ(messages[2].destination, "com.irexnet.popupmenu");
    EXPECT_EQ(messages[1].destination, "com.irexnet.sysd");
    EXPECT_EQ(messages[1].args, (std::vector<std::string>{"s:viewer \"/l/storage/K/a.pdf\"", "s:/l/storage/K",
                                                          "s:a.pdf", "s:/usr/share/ctb/icon-pdf-small.png"}));
}

TEST_F(Messaging, EachTaskGetsItsOwnShowAndHide) {
    ryt::SysdStub stub({"--no-exec"});
    EXPECT_TRUE(ipc_sys_start_task("one", "/w", "1", ""));
    EXPECT_TRUE(ipc_sys_start_task("two", "/w", "2", ""));
    ASSERT_TRUE(stub.wait_for_messages(6));
    g_usleep(100000);
    ryt::flush_events();
    EXPECT_EQ(ryt::briefs(stub.messages()),
              (Briefs{"setBusyShow:show", "startTask:one", "setBusyShow:hide", "setBusyShow:show",
                      "startTask:two", "setBusyShow:hide"}));
}

TEST_F(Messaging, RefusedTaskIsFalseAndStillHidesBusy) {
    ryt::SysdStub stub({"--refuse"});
    ASSERT_EQ(eripc_set_timeout(ipc_get_context(), 4321), ERIPC_ERROR_SUCCESS);
    EXPECT_FALSE(ipc_sys_start_task("viewer x", "/w", "x", ""));
    EXPECT_EQ(context_timeout(), 4321);
    ASSERT_TRUE(stub.wait_for_messages(3));
    EXPECT_EQ(ryt::briefs(stub.messages()),
              (Briefs{"setBusyShow:show", "startTask:viewer x", "setBusyShow:hide"}));
}

TEST_F(Messaging, MissingDaemonIsFalseAndRestoresTheTimeout) {
    ASSERT_EQ(eripc_set_timeout(ipc_get_context(), 2345), ERIPC_ERROR_SUCCESS);
    EXPECT_FALSE(ipc_sys_start_task("viewer x", "/w", "x", ""));
    EXPECT_EQ(context_timeout(), 2345);
}

TEST_F(Messaging, AcceptedTaskRestoresTheTimeout) {
    ryt::SysdStub stub({"--no-exec"});
    ASSERT_EQ(eripc_set_timeout(ipc_get_context(), 3456), ERIPC_ERROR_SUCCESS);
    EXPECT_TRUE(ipc_sys_start_task("viewer x", "/w", "x", ""));
    EXPECT_EQ(context_timeout(), 3456);
}

TEST_F(Messaging, SilentDaemonIsFalseAfterTheStartTaskTimeout) {
    ryt::SysdStub stub({"--silent"});
    // The context's own timeout is long; the task's (shortened here) must be the one used.
    ASSERT_EQ(eripc_set_timeout(ipc_get_context(), 30000), ERIPC_ERROR_SUCCESS);
    ipc_set_start_task_timeout(400);
    gint64 start = g_get_monotonic_time();
    EXPECT_FALSE(ipc_sys_start_task("viewer x", "/w", "x", ""));
    gint64 waited_ms = (g_get_monotonic_time() - start) / 1000;
    EXPECT_GE(waited_ms, 350);
    EXPECT_LT(waited_ms, 20000);
    EXPECT_EQ(context_timeout(), 30000);
    ASSERT_TRUE(stub.wait_for_messages(3));
    EXPECT_EQ(ryt::briefs(stub.messages()),
              (Briefs{"setBusyShow:show", "startTask:viewer x", "setBusyShow:hide"}));
}

TEST_F(Messaging, StopTaskIsSentWithoutBusyIndication) {
    ryt::SysdStub stub({"--no-exec"});
    EXPECT_TRUE(ipc_sys_stop_task("viewer \"/a b\""));
    ASSERT_TRUE(stub.wait_for_messages(1));
    g_usleep(100000);
    auto messages = stub.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].destination, "com.irexnet.sysd");
    EXPECT_EQ(messages[0].member, "stopTask");
    EXPECT_EQ(messages[0].args, (std::vector<std::string>{"s:viewer \"/a b\""}));
}

TEST_F(Messaging, BusyShowSendsShowOrHide) {
    ryt::SysdStub stub({"--no-exec"});
    EXPECT_TRUE(ipc_menu_busy_show(TRUE));
    EXPECT_TRUE(ipc_menu_busy_show(FALSE));
    ASSERT_TRUE(stub.wait_for_messages(2));
    EXPECT_EQ(ryt::briefs(stub.messages()), (Briefs{"setBusyShow:show", "setBusyShow:hide"}));
}

using MessagingDeathTest = Messaging;

TEST_F(MessagingDeathTest, EmptyCommandLineIsAProgrammingError) {
    EXPECT_DEATH(ipc_sys_start_task("", "/w", "x", ""), "cmd_line && \\*cmd_line");
    EXPECT_DEATH(ipc_sys_stop_task(""), "cmd_line && \\*cmd_line");
}

TEST_F(MessagingDeathTest, SettingUpTwiceIsAProgrammingError) {
    EXPECT_DEATH(ipc_set_services(), "eripcContext == NULL");
}

}  // namespace
