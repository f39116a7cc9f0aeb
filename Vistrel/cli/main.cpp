#include <iostream>
#include <string>
#include <vector>

#include "Vistrel/cli/Commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const int status = vistrel::cli::runCommandLine(arguments, std::cout, std::cerr);
  std::cout.flush();
  return std::cout.good() ? status : 1;
}
