// The daemon stand-in as the tests drive it.
#include "sysd_stub.h"

#include <gio/gio.h>

#include <csignal>
#include <stdexcept>

namespace ryt {

namespace {

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

bool name_has_owner(GDBusConnection* bus, const char* name) {
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    if (reply == nullptr) return false;
    gboolean owned = FALSE;
    g_variant_get(reply, "(b)", &owned);
    g_variant_unref(reply);
    return owned;
}

}  // namespace

std::string BusMessage::brief() const { return args.empty() ? member : member + ":" + args[0].substr(2); }

SysdStub::SysdStub(const PrivateSession& session, const std::vector<std::string>& flags) {
    std::vector<std::string> argv{RYX_BUILD_DIR "/tools/ryx-sysd-stub", "--log", dir_.file("log")};
    argv.insert(argv.end(), flags.begin(), flags.end());
    child_ = std::make_unique<Child>(argv, std::vector<std::string>{session.bus_env()});

    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        session.address().c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (bus == nullptr) throw std::runtime_error("cannot reach the private bus");
    gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    bool ready = false;
    while (!ready && g_get_monotonic_time() < end && child_->running()) {
        ready = name_has_owner(bus, "com.irexnet.sysd") && name_has_owner(bus, "com.irexnet.popupmenu");
        if (!ready) g_usleep(5000);
    }
    g_object_unref(bus);
    if (!ready) throw std::runtime_error("ryx-sysd-stub did not take its names");
}

SysdStub::~SysdStub() {
    child_->signal(SIGTERM);
    child_->wait(5000);
}

std::vector<BusMessage> SysdStub::messages() const {
    std::vector<BusMessage> out;
    std::string text = read_file(dir_.file("log"));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a line still being written
        std::vector<std::string> fields;
        std::string line = text.substr(start, end - start);
        size_t f = 0;
        while (true) {
            size_t tab = line.find('\t', f);
            fields.push_back(
                unescape(line.substr(f, tab == std::string::npos ? std::string::npos : tab - f)));
            if (tab == std::string::npos) break;
            f = tab + 1;
        }
        start = end + 1;
        if (fields.size() < 5) continue;
        BusMessage m{fields[0], fields[1], fields[2], fields[3], fields[4], {}};
        m.args.assign(fields.begin() + 5, fields.end());
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<std::string> SysdStub::briefs() const {
    std::vector<std::string> out;
    for (const auto& m : messages()) out.push_back(m.brief());
    return out;
}

bool SysdStub::wait_for(size_t n, int timeout_ms) const {
    return iterate_until([&] { return messages().size() >= n; }, timeout_ms);
}

}  // namespace ryt
