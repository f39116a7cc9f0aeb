#include <iostream>
#include <string>
#include <vector>

#include "Vistrel/cli/Commands.h"
#include "VistrelKit/base/ProcessHardening.h"

int main(int argc, char** argv) {
  // Before anything is read: the history's keys and text must not be readable by other programs.
  if (const auto problem = vistrel::hardenProcess()) {
    std::cerr << *problem << '\n';
    return 1;
  }
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const int status = vistrel::cli::runCommandLine(arguments, std::cout, std::cerr);
  std::cout.flush();
  return std::cout.good() ? status : 1;
}
