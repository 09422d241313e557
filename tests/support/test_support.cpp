// Helpers shared by the tests.
#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ry_raii.h"

namespace ryt {

TempDir::TempDir() {
    GError* error = nullptr;
    ry::gchar_ptr dir(g_dir_make_tmp("ryx-test-XXXXXX", &error));
    if (dir == nullptr) throw std::runtime_error(error->message);
    path_ = dir.get();
}

TempDir::~TempDir() { remove_tree(path_); }

void remove_tree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (GDir* dir = g_dir_open(path.c_str(), 0, nullptr)) {
            while (const gchar* name = g_dir_read_name(dir)) remove_tree(path + "/" + name);
            g_dir_close(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::string read_file(const std::string& path) {
    std::ostringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
        while (const char* n = g_dir_read_name(d)) names.push_back(n);
        g_dir_close(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env) {
    std::vector<gchar*> args;
    for (const auto& a : argv) args.push_back(const_cast<gchar*>(a.c_str()));
    args.push_back(nullptr);
    ry::gstrv_ptr env(g_get_environ());
    for (const auto& kv : extra_env) {
        auto eq = kv.find('=');
        env.reset(g_environ_setenv(env.release(), kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), TRUE));
    }
    int out = open(outdir_.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
    int err = open(outdir_.file("err").c_str(), O_WRONLY | O_CREAT, 0600);
    GError* error = nullptr;
    gboolean ok = g_spawn_async_with_fds(nullptr, args.data(), env.get(), G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                         nullptr, &pid_, -1, out, err, &error);
    close(out);
    close(err);
    ry::gerror_ptr failure(error);
    if (!ok) throw std::runtime_error(failure->message);
}

Child::~Child() {
    if (!reaped_) wait(0);
}

bool Child::running() {
    if (!reaped_ && waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
}

RunResult Child::wait(int timeout_ms) {
    gint64 end = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (running() && g_get_monotonic_time() < end) g_usleep(5000);
    if (!reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
    return {WIFEXITED(status_) ? WEXITSTATUS(status_) : -1, read_file(outdir_.file("out")),
            read_file(outdir_.file("err"))};
}

RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
              int timeout_ms) {
    return Child(argv, extra_env).wait(timeout_ms);
}

void flush_events() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

}  // namespace ryt
