// A child process holding a library's lock.
#include "lock_holder.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace ryt {

LockHolder::LockHolder(const std::function<bool()>& take) {
    int ready[2], hold[2];
    if (pipe(ready) != 0) throw std::runtime_error("pipe");
    if (pipe(hold) != 0) {
        close(ready[0]);
        close(ready[1]);
        throw std::runtime_error("pipe");
    }
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        close(ready[0]);
        close(hold[1]);
        char status = take() ? 'y' : 'n';
        if (write(ready[1], &status, 1) != 1) _exit(2);
        char c;
        while (read(hold[0], &c, 1) > 0) {
        }
        // Ends without closing anything: the lock goes with the process, nothing is checkpointed.
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    hold_ = hold[1];
    char status = 0;
    if (read(ready[0], &status, 1) != 1) status = 0;
    close(ready[0]);
    ok_ = status == 'y';
}

LockHolder::~LockHolder() {
    close(hold_);
    int status;
    waitpid(pid_, &status, 0);
}

std::function<bool()> exclusive_writer(const std::string& path, const std::string& sql) {
    return [path, sql] {
        sqlite3* db = nullptr;
        return sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
               sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK &&
               sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    };
}

std::function<bool()> raw_exclusive_lock(const std::string& path) {
    return [path] {
        int fd = open(path.c_str(), O_RDWR);
        if (fd < 0) return false;
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0x40000000 + 2;  // SQLite's shared byte range
        lock.l_len = 510;
        return fcntl(fd, F_SETLK, &lock) == 0;
    };
}

}  // namespace ryt
