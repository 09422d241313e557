// Writes the platform's file-type registry into GConf through the real client and
// daemon, so that the daemon's cache and the program's reads agree; for tests that run
// on a PrivateSession.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "ry_raii.h"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <gconf/gconf-client.h>
#pragma GCC diagnostic pop

namespace ryt {

inline const char kFiletypeDir[] = "/apps/er/sys/ctb/filetypes";

namespace registry {

inline ry::gobject_ptr<GConfClient> client() {
    return ry::gobject_ptr<GConfClient>(gconf_client_get_default());
}

inline void check(GError* error, const std::string& what) {
    ry::gerror_ptr owned(error);
    if (error != nullptr) throw std::runtime_error(what + ": " + error->message);
}

}  // namespace registry

// Removes every viewer directory.
inline void clear_filetypes() {
    auto client = registry::client();
    GError* error = nullptr;
    gconf_client_recursive_unset(client.get(), "/apps/er", GCONF_UNSET_INCLUDING_SCHEMA_NAMES, &error);
    registry::check(error, "recursive unset");
    gconf_client_suggest_sync(client.get(), nullptr);
}

// One viewer directory; a key is left unset when its argument is null.
inline void set_filetype_dir(const std::string& name, const char* viewer_cmd, const char* icon_name,
                             const std::vector<std::string>* extensions) {
    auto client = registry::client();
    std::string dir = std::string(kFiletypeDir) + "/" + name;
    GError* error = nullptr;
    for (auto [key, value] : {std::pair{"/viewer_cmd", viewer_cmd}, std::pair{"/icon_name", icon_name}}) {
        if (value) gconf_client_set_string(client.get(), (dir + key).c_str(), value, &error);
        registry::check(error, dir + key);
    }
    if (extensions != nullptr) {
        GSList* list = nullptr;
        for (const auto& e : *extensions) list = g_slist_append(list, const_cast<char*>(e.c_str()));
        gconf_client_set_list(client.get(), (dir + "/extensions").c_str(), GCONF_VALUE_STRING, list, &error);
        g_slist_free(list);
        registry::check(error, dir + "/extensions");
    }
}

inline void set_filetype_dir(const std::string& name, const char* viewer_cmd, const char* icon_name,
                             const std::vector<std::string>& extensions) {
    set_filetype_dir(name, viewer_cmd, icon_name, &extensions);
}

// The viewer directories' full paths in the order GConf lists them.
inline std::vector<std::string> listed_filetype_dirs() {
    std::vector<std::string> out;
    GSList* dirs = gconf_client_all_dirs(registry::client().get(), kFiletypeDir, nullptr);
    for (GSList* d = dirs; d != nullptr; d = d->next) out.emplace_back(static_cast<char*>(d->data));
    g_slist_free_full(dirs, g_free);
    return out;
}

}  // namespace ryt
