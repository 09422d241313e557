// Registry fixtures written through GConf's own client and daemon, so that the
// daemon's cache and the program's reads agree.
#include "gconf_registry.h"

#include <stdexcept>

#include "gtk_include.h"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <gconf/gconf-client.h>
#pragma GCC diagnostic pop

namespace ryt {

namespace {

struct Client {
    GConfClient* c = gconf_client_get_default();
    ~Client() { g_object_unref(c); }
};

void check(GError* error, const std::string& what) {
    if (error == nullptr) return;
    std::string msg = what + ": " + error->message;
    g_error_free(error);
    throw std::runtime_error(msg);
}

}  // namespace

void clear_filetypes() {
    Client client;
    GError* error = nullptr;
    gconf_client_recursive_unset(client.c, "/apps/er", GCONF_UNSET_INCLUDING_SCHEMA_NAMES, &error);
    check(error, "recursive unset");
    gconf_client_suggest_sync(client.c, nullptr);
}

void set_filetype_dir(const std::string& name, const char* viewer_cmd, const char* icon_name,
                      const std::vector<std::string>* extensions) {
    Client client;
    std::string dir = std::string(kFiletypeDir) + "/" + name;
    GError* error = nullptr;
    for (auto [key, value] : {std::pair{"/viewer_cmd", viewer_cmd}, std::pair{"/icon_name", icon_name}}) {
        if (value) gconf_client_set_string(client.c, (dir + key).c_str(), value, &error);
        check(error, dir + key);
    }
    if (extensions != nullptr) {
        GSList* list = nullptr;
        for (const auto& e : *extensions) list = g_slist_append(list, const_cast<char*>(e.c_str()));
        gconf_client_set_list(client.c, (dir + "/extensions").c_str(), GCONF_VALUE_STRING, list, &error);
        g_slist_free(list);
        check(error, dir + "/extensions");
    }
}

std::vector<std::string> listed_filetype_dirs() {
    Client client;
    std::vector<std::string> out;
    GSList* dirs = gconf_client_all_dirs(client.c, kFiletypeDir, nullptr);
    for (GSList* d = dirs; d != nullptr; d = d->next) out.emplace_back(static_cast<char*>(d->data));
    g_slist_free_full(dirs, g_free);
    return out;
}

}  // namespace ryt
