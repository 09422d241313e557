// A child process that holds a library locked, as the running reference manager does.
#pragma once

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace ryt {

// Forks a child that runs take() and then keeps what it took (its locks, its open
// connection) until the object goes. take() runs in the child only.
class LockHolder {
  public:
    explicit LockHolder(const std::function<bool()>& take) {
        int ready[2], hold[2];
        if (pipe(ready) != 0 || pipe(hold) != 0 || (pid_ = fork()) < 0)
            throw std::runtime_error("pipe or fork");
        char status = 0;
        if (pid_ == 0) {
            close(hold[1]);
            status = take() ? 'y' : 'n';
            if (write(ready[1], &status, 1) != 1) _exit(2);
            while (read(hold[0], &status, 1) > 0) {
            }
            // Ends without closing anything: the lock goes with the process, nothing is checkpointed.
            _exit(0);
        }
        close(ready[1]);
        close(hold[0]);
        hold_ = hold[1];
        ok_ = read(ready[0], &status, 1) == 1 && status == 'y';
        close(ready[0]);
    }
    ~LockHolder() {
        close(hold_);
        waitpid(pid_, nullptr, 0);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    // Whether take() succeeded in the child.
    bool ok() const { return ok_; }

  private:
    pid_t pid_ = -1;
    int hold_ = -1;
    bool ok_ = false;
};

// Opens the library with SQLite in exclusive locking mode and runs sql (a write),
// leaving the connection open: the lock stays, and so does a WAL log.
inline std::function<bool()> exclusive_writer(const std::string& path, const std::string& sql) {
    return [path, sql] {
        sqlite3* db = nullptr;
        return sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
               sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK &&
               sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    };
}

// Takes the write lock that SQLite's exclusive lock is, without SQLite.
inline std::function<bool()> raw_exclusive_lock(const std::string& path) {
    return [path] {
        int fd = open(path.c_str(), O_RDWR);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_start = 0x40000000 + 2;  // SQLite's shared byte range
        lock.l_len = 510;
        return fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0;
    };
}

}  // namespace ryt
