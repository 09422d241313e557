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

class SysdStub {
  public:
    // Starts the stub with these options (besides --log) and returns once it owns both of
    // its names; throws when it does not come up.
    explicit SysdStub(const std::vector<std::string>& options = {});
    // Ends the stub and waits until its names are free again, for the next stub.
    ~SysdStub();
    SysdStub(const SysdStub&) = delete;
    SysdStub& operator=(const SysdStub&) = delete;

    std::vector<StubMessage> messages() const;
    // Waits until at least n messages are logged; runs the GTK main loop meanwhile.
    bool wait_for_messages(size_t n, int timeout_ms = 5000) const;

  private:
    TempDir dir_;
    std::string log_;
    std::unique_ptr<Child> child_;
};

// Short forms for comparing sequences: the member, then ":" and the first argument's value
// when there is one ("setBusyShow:show", "startTask:viewer \"/a.pdf\"").
std::string brief(const StubMessage& m);
std::vector<std::string> briefs(const std::vector<StubMessage>& messages);

}  // namespace ryt
