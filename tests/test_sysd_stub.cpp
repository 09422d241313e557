// The stand-in system daemon: its names, its message log, and how it answers "startTask".
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "eripc.h"
#include "sysd_stub.h"
#include "test_support.h"

namespace {

constexpr const char* kSysd = "com.irexnet.sysd";
constexpr const char* kMenu = "com.irexnet.popupmenu";

std::set<std::string> entries(const std::string& dir) {
    std::set<std::string> names;
    GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
    while (const gchar* name = g_dir_read_name(d)) names.insert(name);
    g_dir_close(d);
    return names;
}

class SysdStubTest : public testing::Test {
  protected:
    void SetUp() override {
        context_ = eripc_init("ryxstubtest", "1.0", nullptr);
        ASSERT_NE(context_, nullptr);
    }
    void TearDown() override { eripc_destroy(context_); }

    eripc_error_t start_task(const std::string& cmd_line, const std::string& work_dir) {
        return eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, kSysd, "startTask",
                                           ERIPC_TYPE_STRING, cmd_line.c_str(), ERIPC_TYPE_STRING,
                                           work_dir.c_str(), ERIPC_TYPE_STRING, "label", ERIPC_TYPE_STRING,
                                           "", ERIPC_TYPE_INVALID);
    }
    void busy(const char* how) {
        ASSERT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kMenu, "setBusyShow",
                                     ERIPC_TYPE_STRING, how, ERIPC_TYPE_INVALID),
                  ERIPC_ERROR_SUCCESS);
    }

    eripc_context_t* context_ = nullptr;
};

TEST(SysdStubStartup, OwnsBothNamesSaysReadyAndEndsCleanlyOnTerm) {
    ryt::SysdStub stub;
    EXPECT_TRUE(ryt::bus_name_has_owner(kSysd));
    EXPECT_TRUE(ryt::bus_name_has_owner(kMenu));
    ryt::RunResult r = stub.stop();
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "ready\n");
    EXPECT_FALSE(ryt::bus_name_has_owner(kSysd));
}

TEST_F(SysdStubTest, LogsEveryMessageInArrivalOrder) {
    ryt::SysdStub stub({"--no-exec"});
    ASSERT_EQ(eripc_send_signal_varargs(context_, ERIPC_BUS_SESSION, "/com/irexnet/ryx", kSysd,
                                        "startupComplete", ERIPC_TYPE_STRING, "ryx", ERIPC_TYPE_INT, 77,
                                        ERIPC_TYPE_BOOL, FALSE, ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    busy("show");
    ASSERT_EQ(start_task("viewer \"/lib/storage/K/a\tb.pdf\"", "/lib/storage/K"), ERIPC_ERROR_SUCCESS);
    busy("hide");
    ASSERT_TRUE(stub.wait_for_messages(4));

    std::vector<std::string> got;
    for (const auto& m : stub.messages()) {
        got.push_back(m.kind + " " + m.destination + " " + m.path + " " + m.interface + " " + m.member);
        for (const auto& a : m.args) got.back() += " [" + a + "]";
    }
    std::vector<std::string> want{
        "signal - /com/irexnet/ryx com.irexnet.sysd startupComplete [s:ryx] [i:77] [b:false]",
        "call com.irexnet.popupmenu /com/irexnet/popupmenu com.irexnet.popupmenu setBusyShow [s:show]",
        "call com.irexnet.sysd /com/irexnet/sysd com.irexnet.sysd startTask [s:viewer "
        "\"/lib/storage/K/a\tb.pdf\"] "
        "[s:/lib/storage/K] [s:label] [s:]",
        "call com.irexnet.popupmenu /com/irexnet/popupmenu com.irexnet.popupmenu setBusyShow [s:hide]",
    };
    EXPECT_EQ(got, want);
}

TEST_F(SysdStubTest, StartTaskRunsTheWordsOfTheCommandWithoutAShell) {
    ryt::SysdStub stub;
    ryt::TempDir dir;
    // A shell would substitute $(id), split at ';' and leave no quote in a name.
    ASSERT_EQ(start_task(R"(touch "a b" 'c d' $(id) x;y "q\"uote")", dir.path()), ERIPC_ERROR_SUCCESS);
    std::set<std::string> want{"a b", "c d", "$(id)", "x;y", "q\"uote"};
    EXPECT_TRUE(ryt::iterate_until([&] { return entries(dir.path()) == want; }));
    EXPECT_EQ(entries(dir.path()), want);
    // A command that cannot start is an error reply.
    EXPECT_EQ(start_task("/nonexistent/viewer file.pdf", dir.path()), ERIPC_ERROR);
}

TEST_F(SysdStubTest, RefuseSilentAndNoExecModesRunNothing) {
    const std::vector<std::pair<const char*, eripc_error_t>> modes{
        {"--refuse", ERIPC_ERROR}, {"--silent", ERIPC_ERROR_TIMEOUT}, {"--no-exec", ERIPC_ERROR_SUCCESS}};
    ASSERT_EQ(eripc_set_timeout(context_, 300), ERIPC_ERROR_SUCCESS);
    for (const auto& [option, answer] : modes) {
        ryt::SysdStub stub({option});
        ryt::TempDir dir;
        EXPECT_EQ(start_task("touch made", dir.path()), answer) << option;
        ASSERT_TRUE(stub.wait_for_messages(1));
        EXPECT_EQ(stub.messages()[0].member, "startTask");
        g_usleep(300 * 1000);
        EXPECT_TRUE(entries(dir.path()).empty()) << option;
    }
}

}  // namespace
