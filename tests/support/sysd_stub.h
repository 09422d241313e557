// Runs ryx-sysd-stub, the stand-in system daemon and popup menu, and reads its message log.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace ryt {

// One line of the stub's log, values unescaped; args keep their type prefix ("s:show").
struct StubMessage {
    std::string kind;  // "call" or "signal"
    std::string destination, path, interface, member;
    std::vector<std::string> args;
};

std::vector<StubMessage> parse_stub_log(const std::string& text);

std::string sysd_stub_binary();

// Whether a name has an owner on the session bus.
bool bus_name_has_owner(const std::string& name);

class SysdStub {
  public:
    // Starts the stub with these options (besides --log) and returns once it owns both of
    // its names; throws when it does not come up.
    explicit SysdStub(const std::vector<std::string>& options = {});
    // Ends the stub and waits until its names are free again.
    ~SysdStub();
    SysdStub(const SysdStub&) = delete;
    SysdStub& operator=(const SysdStub&) = delete;

    std::vector<StubMessage> messages() const;
    // Waits until at least n messages are logged; runs the GTK main loop meanwhile.
    bool wait_for_messages(size_t n, int timeout_ms = 5000) const;
    const std::string& log_path() const { return log_; }
    // Ends the stub with SIGTERM and returns how it went.
    RunResult stop();

  private:
    TempDir dir_;
    std::string log_;
    std::unique_ptr<Child> child_;
    bool stopped_ = false;
};

}  // namespace ryt
