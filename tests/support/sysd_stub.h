// Runs the stand-in for the platform's system daemon and popup menu on a
// PrivateSession and reads back the messages it received.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "private_session.h"
#include "test_support.h"

namespace ryt {

// One logged message: kind ("call" or "signal"), destination, path, interface,
// member and the arguments as "TYPE:VALUE" (such as "s:show", "i:42", "b:true").
struct BusMessage {
    std::string kind, destination, path, interface, member;
    std::vector<std::string> args;
    // member, then ":" and the first argument when there is one ("setBusyShow:show").
    std::string brief() const;
};

class SysdStub {
  public:
    // flags: for instance {"--refuse"}, {"--silent"}, {"--no-exec"}. Returns once
    // the stub owns both of its names on the session bus.
    SysdStub(const PrivateSession& session, const std::vector<std::string>& flags = {"--no-exec"});
    ~SysdStub();
    SysdStub(const SysdStub&) = delete;
    SysdStub& operator=(const SysdStub&) = delete;

    std::vector<BusMessage> messages() const;
    // brief() of every message, in arrival order.
    std::vector<std::string> briefs() const;
    // Waits (running the GTK loop) until at least n messages have arrived.
    bool wait_for(size_t n, int timeout_ms = 5000) const;

  private:
    TempDir dir_;
    std::unique_ptr<Child> child_;
};

}  // namespace ryt
