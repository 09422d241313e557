// A private session bus with a private GConf source.
#include "private_session.h"

#include <csignal>
#include <stdexcept>

namespace ryt {

PrivateSession::PrivateSession() {
    std::string source = dir_.file("gconf");
    g_mkdir(source.c_str(), 0700);
    write_file(gconf_path_file(), "xml:readwrite:" + source + "\n");
    std::string socket = dir_.file("bus");
    address_ = "unix:path=" + socket;
    // The GConf daemon is started by the bus and takes the bus's environment.
    daemon_ = std::make_unique<Child>(
        std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--address=" + address_},
        std::vector<std::string>{"GCONF_DEFAULT_SOURCE_PATH=" + gconf_path_file()});
    gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!file_exists(socket)) {
        if (g_get_monotonic_time() > end || !daemon_->running())
            throw std::runtime_error("dbus-daemon did not start");
        g_usleep(2000);
    }
    g_setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), TRUE);
}

PrivateSession::~PrivateSession() {
    // A clean end lets the bus's GConf daemon notice and leave too.
    daemon_->signal(SIGTERM);
    daemon_->wait(5000);
}

}  // namespace ryt
