// A child process that holds a library locked, as the running reference manager does.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace ryt {

// Forks a child that runs take() and then keeps what it took (its locks, its open
// connection) until the object goes. take() runs in the child only.
class LockHolder {
  public:
    explicit LockHolder(const std::function<bool()>& take);
    ~LockHolder();
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
std::function<bool()> exclusive_writer(const std::string& path, const std::string& sql);
// Takes the write lock that SQLite's exclusive lock is, without SQLite.
std::function<bool()> raw_exclusive_lock(const std::string& path);

}  // namespace ryt
