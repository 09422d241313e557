// Short forms of the daemon stand-in's log, for comparing message sequences.
#pragma once

#include <string>
#include <vector>

#include "sysd_stub.h"

namespace ryt {

// The member, then ":" and the first argument's value when there is one
// ("setBusyShow:show", "startTask:viewer \"/a.pdf\"").
inline std::string brief(const StubMessage& m) {
    return m.args.empty() ? m.member : m.member + ":" + m.args[0].substr(m.args[0].find(':') + 1);
}

inline std::vector<std::string> briefs(const std::vector<StubMessage>& messages) {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(brief(m));
    return out;
}

}  // namespace ryt
