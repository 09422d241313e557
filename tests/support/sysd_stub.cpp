// Runs the stand-in system daemon for the tests and parses its log.
#include "sysd_stub.h"

#include <gio/gio.h>

#include <csignal>
#include <sstream>
#include <stdexcept>

#include "ry_raii.h"

namespace ryt {

namespace {

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            c = s[++i];
            c = c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        }
        out += c;
    }
    return out;
}

std::vector<StubMessage> parse_stub_log(std::string text) {
    text.resize(text.rfind('\n') + 1);  // not a line still being written
    std::vector<StubMessage> messages;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(unescape(field));
        if (f.size() < 5) throw std::runtime_error("bad stub log line: " + line);
        messages.push_back({f[0], f[1], f[2], f[3], f[4], {f.begin() + 5, f.end()}});
    }
    return messages;
}

// How many of the stub's two names have an owner on the session bus.
int names_owned() {
    ry::gobject_ptr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!bus) return 0;
    int owned = 0;
    for (const char* name : {"com.irexnet.sysd", "com.irexnet.popupmenu"}) {
        ry::variant_ptr reply(
            g_dbus_connection_call_sync(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                        "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name),
                                        G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
        gboolean yes = FALSE;
        if (reply) g_variant_get(reply.get(), "(b)", &yes);
        owned += yes;
    }
    return owned;
}

}  // namespace

std::string brief(const StubMessage& m) {
    return m.args.empty() ? m.member : m.member + ":" + m.args[0].substr(m.args[0].find(':') + 1);
}

std::vector<std::string> briefs(const std::vector<StubMessage>& messages) {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(brief(m));
    return out;
}

SysdStub::SysdStub(const std::vector<std::string>& options) : log_(dir_.file("stub.log")) {
    std::vector<std::string> argv{RYX_BUILD_DIR "/tools/ryx-sysd-stub", "--log", log_};
    argv.insert(argv.end(), options.begin(), options.end());
    child_ = std::make_unique<Child>(argv);
    gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (names_owned() < 2) {
        if (!child_->running()) throw std::runtime_error("ryx-sysd-stub ended: " + child_->wait(0).err);
        if (g_get_monotonic_time() > end) throw std::runtime_error("ryx-sysd-stub did not come up");
        g_usleep(5000);
    }
}

SysdStub::~SysdStub() {
    child_->signal(SIGTERM);
    child_->wait(5000);
    // The bus frees the names a little after the process ends.
    gint64 end = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    while (names_owned() > 0 && g_get_monotonic_time() < end) g_usleep(5000);
}

std::vector<StubMessage> SysdStub::messages() const { return parse_stub_log(read_file(log_)); }

bool SysdStub::wait_for_messages(size_t n, int timeout_ms) const {
    return iterate_until([&] { return messages().size() >= n; }, timeout_ms);
}

}  // namespace ryt
