// Runs the stand-in system daemon for the tests and parses its log.
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

}  // namespace

std::vector<StubMessage> parse_stub_log(const std::string& text) {
    std::vector<StubMessage> messages;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a line still being written
        std::vector<std::string> fields;
        std::string line = text.substr(start, end - start);
        size_t from = 0;
        for (;;) {
            size_t tab = line.find('\t', from);
            fields.push_back(unescape(line.substr(from, tab == std::string::npos ? tab : tab - from)));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        start = end + 1;
        if (fields.size() < 5) throw std::runtime_error("bad stub log line: " + line);
        StubMessage m{fields[0], fields[1], fields[2], fields[3], fields[4], {}};
        m.args.assign(fields.begin() + 5, fields.end());
        messages.push_back(std::move(m));
    }
    return messages;
}

std::string sysd_stub_binary() { return std::string(RYX_BUILD_DIR) + "/tools/ryx-sysd-stub"; }

bool bus_name_has_owner(const std::string& name) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return false;
    GVariant* result = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                   "org.freedesktop.DBus", "NameHasOwner",
                                                   g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"),
                                                   G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    g_object_unref(bus);
    if (!result) return false;
    gboolean owned = FALSE;
    g_variant_get(result, "(b)", &owned);
    g_variant_unref(result);
    return owned;
}

SysdStub::SysdStub(const std::vector<std::string>& options) : log_(dir_.file("stub.log")) {
    std::vector<std::string> argv{sysd_stub_binary(), "--log", log_};
    argv.insert(argv.end(), options.begin(), options.end());
    child_ = std::make_unique<Child>(argv);
    gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
    while (!bus_name_has_owner("com.irexnet.sysd") || !bus_name_has_owner("com.irexnet.popupmenu")) {
        if (!child_->running()) {
            RunResult r = child_->wait(0);
            throw std::runtime_error("ryx-sysd-stub ended: " + r.err);
        }
        if (g_get_monotonic_time() > end) throw std::runtime_error("ryx-sysd-stub did not come up");
        g_usleep(5000);
    }
}

SysdStub::~SysdStub() {
    if (!stopped_) stop();
}

RunResult SysdStub::stop() {
    stopped_ = true;
    child_->signal(SIGTERM);
    RunResult r = child_->wait(5000);
    // The bus frees the names a little after the process ends; the next stub needs them.
    gint64 end = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    while ((bus_name_has_owner("com.irexnet.sysd") || bus_name_has_owner("com.irexnet.popupmenu")) &&
           g_get_monotonic_time() < end)
        g_usleep(5000);
    return r;
}

std::vector<StubMessage> SysdStub::messages() const { return parse_stub_log(read_file(log_)); }

bool SysdStub::wait_for_messages(size_t n, int timeout_ms) const {
    return iterate_until([&] { return messages().size() >= n; }, timeout_ms);
}

}  // namespace ryt
