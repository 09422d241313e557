// The stand-in system daemon: its names, its message log, and how it answers "startTask".
#include <gtest/gtest.h>

#include <algorithm>
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
    if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
        while (const gchar* name = g_dir_read_name(d)) names.insert(name);
        g_dir_close(d);
    }
    return names;
}

std::string describe(const ryt::StubMessage& m) {
    std::string s = m.kind + " " + m.destination + " " + m.path + " " + m.interface + " " + m.member;
    for (const auto& a : m.args) s += " [" + a + "]";
    return s;
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

TEST(SysdStubStartup, ASecondStubCannotTakeTheNames) {
    ryt::SysdStub stub;
    ryt::RunResult r = ryt::run({ryt::sysd_stub_binary()});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("already owned"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST(SysdStubStartup, BadCommandLinesAreRefused) {
    EXPECT_EQ(ryt::run({ryt::sysd_stub_binary(), "--refuse", "--silent"}).exit_status, 2);
    EXPECT_EQ(ryt::run({ryt::sysd_stub_binary(), "--bogus"}).exit_status, 2);
    EXPECT_EQ(ryt::run({ryt::sysd_stub_binary(), "extra"}).exit_status, 2);
    EXPECT_FALSE(ryt::bus_name_has_owner(kSysd));
}

TEST_F(SysdStubTest, LogsEveryMessageInArrivalOrder) {
    ryt::SysdStub stub({"--no-exec"});
    ASSERT_EQ(eripc_send_signal_varargs(context_, ERIPC_BUS_SESSION, "/com/irexnet/ryx", kSysd,
                                        "startupComplete", ERIPC_TYPE_STRING, "ryx", ERIPC_TYPE_INT, 77,
                                        ERIPC_TYPE_BOOL, TRUE, ERIPC_TYPE_STRING, "com.irexnet.ryx",
                                        ERIPC_TYPE_INT, 4194305, ERIPC_TYPE_BOOL, FALSE, ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kMenu, "setBusyShow",
                                 ERIPC_TYPE_STRING, "show", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_EQ(start_task("viewer \"/lib/storage/K/a b.pdf\"", "/lib/storage/K"), ERIPC_ERROR_SUCCESS);
    ASSERT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kMenu, "setBusyShow",
                                 ERIPC_TYPE_STRING, "hide", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_EQ(eripc_send_varargs(context_, nullptr, nullptr, ERIPC_BUS_SESSION, kSysd, "stopTask",
                                 ERIPC_TYPE_STRING, "viewer", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(stub.wait_for_messages(5));

    std::vector<std::string> got;
    for (const auto& m : stub.messages()) got.push_back(describe(m));
    std::vector<std::string> want{
        "signal - /com/irexnet/ryx com.irexnet.sysd startupComplete [s:ryx] [i:77] [b:true] "
        "[s:com.irexnet.ryx] [i:4194305] [b:false]",
        "call com.irexnet.popupmenu /com/irexnet/popupmenu com.irexnet.popupmenu setBusyShow [s:show]",
        "call com.irexnet.sysd /com/irexnet/sysd com.irexnet.sysd startTask [s:viewer \"/lib/storage/K/a "
        "b.pdf\"] "
        "[s:/lib/storage/K] [s:label] [s:]",
        "call com.irexnet.popupmenu /com/irexnet/popupmenu com.irexnet.popupmenu setBusyShow [s:hide]",
        "call com.irexnet.sysd /com/irexnet/sysd com.irexnet.sysd stopTask [s:viewer]",
    };
    EXPECT_EQ(got, want);
}

TEST_F(SysdStubTest, LogValuesAreTypedAndEscapedOneLineEach) {
    ryt::SysdStub stub;
    const char* awkward = "a\tb\\c\nd\re";
    ASSERT_EQ(eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, kSysd, "stopTask",
                                          ERIPC_TYPE_STRING, awkward, ERIPC_TYPE_BYTE, 255, ERIPC_TYPE_UINT,
                                          7u, ERIPC_TYPE_DOUBLE, 0.5, ERIPC_TYPE_INT, -3, ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(stub.wait_for_messages(1));
    std::string raw = ryt::read_file(stub.log_path());
    EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), 1);
    auto messages = stub.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].args,
              (std::vector<std::string>{std::string("s:") + awkward, "y:255", "u:7", "d:0.5", "i:-3"}));
}

TEST_F(SysdStubTest, StartTaskRunsTheWordsOfTheCommandWithoutAShell) {
    ryt::SysdStub stub;
    ryt::TempDir dir;
    // A shell would substitute $(id), split at ';' and leave no quote in a name.
    ASSERT_EQ(start_task(R"(touch "a b" 'c d' $(id) x;y "q\"uote")", dir.path()), ERIPC_ERROR_SUCCESS);
    std::set<std::string> want{"a b", "c d", "$(id)", "x;y", "q\"uote"};
    EXPECT_TRUE(ryt::iterate_until([&] { return entries(dir.path()) == want; }));
    EXPECT_EQ(entries(dir.path()), want);
}

TEST_F(SysdStubTest, StartTaskThatCannotStartGetsAnErrorReply) {
    ryt::SysdStub stub;
    ryt::TempDir dir;
    EXPECT_EQ(start_task("/nonexistent/viewer file.pdf", dir.path()), ERIPC_ERROR);
    EXPECT_EQ(start_task("touch \"unclosed", dir.path()), ERIPC_ERROR);
    EXPECT_EQ(start_task("touch made", dir.file("missing")), ERIPC_ERROR);
    ASSERT_TRUE(stub.wait_for_messages(3));
    EXPECT_EQ(stub.messages().size(), 3u);
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST_F(SysdStubTest, RefuseModeAnswersStartTaskWithAnErrorAndRunsNothing) {
    ryt::SysdStub stub({"--refuse"});
    ryt::TempDir dir;
    EXPECT_EQ(start_task("touch made", dir.path()), ERIPC_ERROR);
    EXPECT_EQ(eripc_send_varargs_and_wait(context_, nullptr, ERIPC_BUS_SESSION, kMenu, "setBusyShow",
                                          ERIPC_TYPE_STRING, "hide", ERIPC_TYPE_INVALID),
              ERIPC_ERROR_SUCCESS);
    ASSERT_TRUE(stub.wait_for_messages(2));
    EXPECT_EQ(stub.messages()[0].member, "startTask");
    g_usleep(300 * 1000);
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST_F(SysdStubTest, SilentModeNeverAnswersStartTask) {
    ryt::SysdStub stub({"--silent"});
    ryt::TempDir dir;
    ASSERT_EQ(eripc_set_timeout(context_, 300), ERIPC_ERROR_SUCCESS);
    EXPECT_EQ(start_task("touch made", dir.path()), ERIPC_ERROR_TIMEOUT);
    ASSERT_TRUE(stub.wait_for_messages(1));
    EXPECT_EQ(stub.messages()[0].member, "startTask");
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST_F(SysdStubTest, NoExecModeAcceptsWithoutRunning) {
    ryt::SysdStub stub({"--no-exec"});
    ryt::TempDir dir;
    EXPECT_EQ(start_task("touch made", dir.path()), ERIPC_ERROR_SUCCESS);
    g_usleep(300 * 1000);
    EXPECT_TRUE(entries(dir.path()).empty());
}

}  // namespace
