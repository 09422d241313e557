// A private session bus with a private GConf source.
#include "private_session.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <csignal>
#include <stdexcept>

namespace ryt {

namespace {

bool bus_answers(const std::string& address) {
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (bus == nullptr) return false;
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return true;
}

}  // namespace

PrivateSession::PrivateSession() {
    std::string source = dir_.file("gconf");
    g_mkdir(source.c_str(), 0700);
    write_file(gconf_path_file(), "xml:readwrite:" + source + "\n");
    address_ = "unix:path=" + dir_.file("bus");

    gchar* program = g_find_program_in_path("dbus-daemon");
    if (program == nullptr) throw std::runtime_error("dbus-daemon is not installed");
    std::string address_arg = "--address=" + address_;
    gchar* argv[] = {program, const_cast<gchar*>("--session"), const_cast<gchar*>("--nofork"),
                     const_cast<gchar*>(address_arg.c_str()), nullptr};
    // The GConf daemon is started by the bus and takes the bus's environment. It
    // reads the path file named here, but writes to the first writable source of
    // the system's list, which is $HOME/.gconf: a home of our own keeps that private.
    std::string home = dir_.file("home");
    g_mkdir(home.c_str(), 0700);
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "GCONF_DEFAULT_SOURCE_PATH", gconf_path_file().c_str(), TRUE);
    env = g_environ_setenv(env, "HOME", home.c_str(), TRUE);
    env = g_environ_setenv(env, "DBUS_SESSION_BUS_ADDRESS", address_.c_str(), TRUE);
    GError* error = nullptr;
    // The bus ends with this process, however it ends.
    gboolean ok = g_spawn_async(
        nullptr, argv, env, GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL),
        +[](gpointer) { prctl(PR_SET_PDEATHSIG, SIGTERM); }, nullptr, &pid_, &error);
    g_free(program);
    g_strfreev(env);
    if (!ok) {
        std::string msg = error->message;
        g_error_free(error);
        throw std::runtime_error(msg);
    }

    gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!bus_answers(address_)) {
        if (g_get_monotonic_time() > end || waitpid(pid_, nullptr, WNOHANG) == pid_) {
            stop();
            throw std::runtime_error("dbus-daemon did not start");
        }
        g_usleep(2000);
    }
    g_setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), TRUE);
}

PrivateSession::~PrivateSession() { stop(); }

PrivateSession& PrivateSession::shared() {
    static PrivateSession session;
    return session;
}

void PrivateSession::stop() {
    if (pid_ == 0) return;
    // A clean end lets the bus's GConf daemon notice and leave too.
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
}

}  // namespace ryt
