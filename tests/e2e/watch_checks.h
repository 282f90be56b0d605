// The watch switch seen from outside: marked texts put on the clipboard by another program while
// StartCheck is ticked, and what the tool leaves there.
#pragma once

#include <string>

// `faultExe` is the build whose memory requests of ORVANE_FAIL_ALLOC_AT_LEAST bytes or more fail.
int RunWatchChecks(const std::string& exe, const std::string& faultExe);
// How soon and how often the tool replaces; `faultExe` can also be told to do without the
// clipboard listener (ORVANE_NO_CLIPBOARD_LISTENER=1).
int RunPromptChecks(const std::string& exe, const std::string& faultExe);
// Other programs that stop answering while the tool uses the clipboard, and a second fatal report.
int RunStallChecks(const std::string& exe, const std::string& faultExe);
