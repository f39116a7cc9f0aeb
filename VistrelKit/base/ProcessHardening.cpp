#include "VistrelKit/base/ProcessHardening.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace vistrel {

std::optional<std::string> hardenProcess() {
  const rlimit noCore{0, 0};
  if (::setrlimit(RLIMIT_CORE, &noCore) != 0)
    return std::string("Couldn't turn off core dumps: ") + std::strerror(errno);
  if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
    return std::string("Couldn't protect this program's memory from other programs: ") +
           std::strerror(errno);
  return std::nullopt;
}

}  // namespace vistrel
