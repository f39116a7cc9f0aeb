#pragma once

#include <optional>
#include <string>

namespace vistrel {

// Closes the ways another process of the same user reads this one's memory: no core dump is
// written (core size limit 0), and the process is not dumpable, so ptrace attach and
// /proc/<pid>/mem of other processes are refused and a crash leaves no image of the keys or of
// the recognised text. Called first thing by every Vistrel program; it holds across threads but
// not across exec, so a program that execs another relies on that one calling it too.
//
// Returns the problem, as the text shown to the user, when the system refused either step.
std::optional<std::string> hardenProcess();

}  // namespace vistrel
