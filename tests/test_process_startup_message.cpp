// The program tells the system daemon once, after its window is up, that its
// start-up is complete: run for real on a generated library with the daemon
// stand-in on a private session bus.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "gtk_include.h"
#include "libgen.h"
#include "private_session.h"
#include "sysd_stub.h"

namespace {

// The _NET_WM_PID property of an X window (GDK sets it on every toplevel), or -1.
long window_pid(GdkWindow* window) {
    GdkAtom type = GDK_NONE;
    gint format = 0, length = 0;
    guchar* data = nullptr;
    if (!gdk_property_get(window, gdk_atom_intern("_NET_WM_PID", FALSE), gdk_atom_intern("CARDINAL", FALSE),
                          0, 1, FALSE, &type, &format, &length, &data) ||
        data == nullptr)
        return -1;
    long pid = format == 32 ? *reinterpret_cast<long*>(data) : -1;
    g_free(data);
    return pid;
}

std::vector<ryt::StubMessage> startup_messages(const ryt::SysdStub& stub) {
    std::vector<ryt::StubMessage> out;
    for (const auto& m : stub.messages())
        if (m.member == "startupComplete") out.push_back(m);
    return out;
}

TEST(StartupMessage, SentOnceWithTheShownMainWindow) {
    ryt::PrivateSession& session = ryt::PrivateSession::shared();
    ryt::SysdStub stub({"--no-exec"});
    ryt::TempDir dir;
    libgen::ClassicLibraryBuilder library(dir.path());
    library.add_item({.title = "Atlas", .creators = {{"Ann", "Lee"}}});
    library.finish();

    ryt::Child ryx({RYX_BINARY, library.database_path(), "0"}, {session.bus_env(), "NO_AT_BRIDGE=1"});
    ASSERT_TRUE(ryt::iterate_until([&] { return !startup_messages(stub).empty() || !ryx.running(); }, 15000));
    ASSERT_TRUE(ryx.running());
    // Give a second message every chance to show up.
    ryt::iterate_until([] { return false; }, 500);
    auto messages = startup_messages(stub);
    ASSERT_EQ(messages.size(), 1u);

    const ryt::StubMessage& m = messages[0];
    EXPECT_EQ(m.kind, "signal");
    EXPECT_EQ(m.path, "/com/irexnet/ryx");
    EXPECT_EQ(m.interface, "com.irexnet.sysd");
    ASSERT_EQ(m.args.size(), 6u);
    EXPECT_EQ(m.args[0], "s:ryx");
    EXPECT_EQ(m.args[1], "i:" + std::to_string(ryx.pid()));
    EXPECT_EQ(m.args[2], "b:true");
    EXPECT_EQ(m.args[3], "s:com.irexnet.ryx");
    EXPECT_EQ(m.args[5], "b:true");

    // The window id names the program's own toplevel, and it is on the screen.
    ASSERT_EQ(m.args[4].rfind("i:", 0), 0u);
    auto xid = static_cast<GdkNativeWindow>(std::stoul(m.args[4].substr(2)));
    GdkWindow* window = gdk_window_foreign_new(xid);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window_pid(window), long(ryx.pid()));
    EXPECT_TRUE(gdk_window_is_viewable(window));
    g_object_unref(window);

    ryx.signal(SIGTERM);
    EXPECT_EQ(ryx.wait(10000).exit_status, 0);
    // Nothing else was sent on the way out.
    EXPECT_EQ(startup_messages(stub).size(), 1u);
}

}  // namespace
