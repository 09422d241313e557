// The messaging library without a session bus. What it sends over one is checked
// where the program sends it (test_messaging, test_process_startup_message).
#include <gtest/gtest.h>

#include <string>

#include "eripc.h"
#include "test_support.h"

namespace {

constexpr const char* kSysd = "com.irexnet.sysd";

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

}  // namespace
