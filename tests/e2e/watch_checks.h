// The watch switch seen from outside: marked texts put on the clipboard by another program while
// StartCheck is ticked, and what the tool leaves there.
#pragma once

#include <string>

// `faultExe` is the build whose memory requests of ORVANE_FAIL_ALLOC_AT_LEAST bytes or more fail.
int RunWatchChecks(const std::string& exe, const std::string& faultExe);
