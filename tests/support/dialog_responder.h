// Answers message dialogs as a user would: once a dialog is on the screen, its
// text is recorded and it is dismissed with OK.
#pragma once

#include <string>
#include <vector>

#include "gtk_include.h"

namespace ryt {

class DialogResponder {
  public:
    DialogResponder();
    ~DialogResponder();
    DialogResponder(const DialogResponder&) = delete;
    DialogResponder& operator=(const DialogResponder&) = delete;

    // The primary texts of the dialogs answered so far, in order.
    const std::vector<std::string>& texts() const { return texts_; }

  private:
    static gboolean poll(gpointer self);
    guint source_ = 0;
    std::vector<std::string> texts_;
};

}  // namespace ryt
