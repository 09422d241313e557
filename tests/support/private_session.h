// A session bus of one test program's own, whose GConf daemon serves a private
// source, so that test programs running side by side see neither each other's
// messages nor each other's settings.
#pragma once

#include <string>

#include "test_support.h"

namespace ryt {

class PrivateSession {
  public:
    // Starts the bus and points DBUS_SESSION_BUS_ADDRESS of this process at it:
    // create it before anything in the process has touched D-Bus or GConf.
    PrivateSession();
    ~PrivateSession();
    PrivateSession(const PrivateSession&) = delete;
    PrivateSession& operator=(const PrivateSession&) = delete;

    // The environment entry that gives a child program this session.
    std::string bus_env() const { return "DBUS_SESSION_BUS_ADDRESS=" + address_; }

    // The one session of this test program, started on first use and ended at exit.
    static PrivateSession& shared();

  private:
    TempDir dir_;
    GPid pid_ = 0;
    std::string address_;
};

}  // namespace ryt
