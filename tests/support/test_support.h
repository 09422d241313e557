// Helpers shared by the tests: temporary directories, files, running the program.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "gtk_include.h"

namespace ryt {

// A private directory removed with its contents when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void remove_tree(const std::string& path);
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);
bool file_exists(const std::string& path);
// The names in a directory, sorted.
std::vector<std::string> files_in(const std::string& dir);

struct RunResult {
    int exit_status = -1;  // -1 when killed by a signal
    std::string out, err;
};

// A running program with its output captured to files.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    GPid pid() const { return pid_; }
    void signal(int signo) { kill(pid_, signo); }
    // Waits up to timeout_ms; kills the program with SIGKILL after that.
    RunResult wait(int timeout_ms = 20000);
    bool running();

  private:
    GPid pid_ = 0;
    bool reaped_ = false;
    int status_ = 0;
    TempDir outdir_;
};

// Runs to completion (killed after timeout_ms).
RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env = {},
              int timeout_ms = 20000);

// Runs the GTK main loop until pred() holds or timeout_ms passes; returns pred().
template <class Pred>
bool iterate_until(Pred pred, int timeout_ms = 5000) {
    gint64 end = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (!pred()) {
        if (g_get_monotonic_time() > end) return false;
        if (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
        else
            g_usleep(1000);
    }
    return true;
}
// Handles every pending GTK event.
void flush_events();

}  // namespace ryt
