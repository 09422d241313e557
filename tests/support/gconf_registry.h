// Writes the platform's file-type registry into GConf through the real client,
// for tests that run on a PrivateSession.
#pragma once

#include <string>
#include <vector>

namespace ryt {

inline const char kFiletypeDir[] = "/apps/er/sys/ctb/filetypes";

// Removes every viewer directory.
void clear_filetypes();
// One viewer directory; a key is left unset when its argument is null.
void set_filetype_dir(const std::string& name, const char* viewer_cmd, const char* icon_name,
                      const std::vector<std::string>* extensions);
inline void set_filetype_dir(const std::string& name, const char* viewer_cmd, const char* icon_name,
                             const std::vector<std::string>& extensions) {
    set_filetype_dir(name, viewer_cmd, icon_name, &extensions);
}
// The viewer directories' full paths in the order GConf lists them.
std::vector<std::string> listed_filetype_dirs();

}  // namespace ryt
