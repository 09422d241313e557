// A private session bus with a private GConf source.
#include "private_session.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <csignal>
#include <stdexcept>

#include "ry_raii.h"

namespace ryt {

namespace {

bool bus_answers(const std::string& address) {
    ry::gobject_ptr<GDBusConnection> bus(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
    return bus && g_dbus_connection_close_sync(bus.get(), nullptr, nullptr);
}

}  // namespace

PrivateSession::PrivateSession() : address_("unix:path=" + dir_.file("bus")) {
    const std::string source = dir_.file("gconf"), path_file = dir_.file("gconf.path"),
                      home = dir_.file("home");
    g_mkdir(source.c_str(), 0700);
    write_file(path_file, "xml:readwrite:" + source + "\n");
    // The GConf daemon is started by the bus and takes the bus's environment. It
    // reads the path file named here, but writes to the first writable source of
    // the system's list, which is $HOME/.gconf: a home of our own keeps that private.
    g_mkdir(home.c_str(), 0700);
    ry::gstrv_ptr env(
        g_environ_setenv(g_get_environ(), "GCONF_DEFAULT_SOURCE_PATH", path_file.c_str(), TRUE));
    env.reset(g_environ_setenv(env.release(), "HOME", home.c_str(), TRUE));
    env.reset(g_environ_setenv(env.release(), "DBUS_SESSION_BUS_ADDRESS", address_.c_str(), TRUE));
    std::string address_arg = "--address=" + address_;
    const gchar* argv[] = {"dbus-daemon", "--session", "--nofork", address_arg.c_str(), nullptr};
    GError* error = nullptr;
    // The bus ends with this process, however it ends.
    gboolean ok = g_spawn_async(
        nullptr, const_cast<gchar**>(argv), env.get(),
        GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_SEARCH_PATH),
        +[](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, &pid_, &error);
    ry::gerror_ptr failure(error);
    if (!ok) throw std::runtime_error(failure->message);
    gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!bus_answers(address_)) {
        if (g_get_monotonic_time() > end || waitpid(pid_, nullptr, WNOHANG) == pid_)
            throw std::runtime_error("dbus-daemon did not start");
        g_usleep(2000);
    }
    g_setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), TRUE);
}

// A clean end lets the bus's GConf daemon notice and leave too.
PrivateSession::~PrivateSession() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

PrivateSession& PrivateSession::shared() {
    static PrivateSession session;
    return session;
}

}  // namespace ryt
