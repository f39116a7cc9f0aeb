#include <cstdio>
#include <cstring>

namespace {

constexpr const char* usageText =
    "Usage: vistrel-cli [--data-dir DIR] [--key-file FILE] [--json] COMMAND [ARGS...]\n"
    "\n"
    "The searchable history of what was on your screen, from the command line.\n"
    "The commands arrive as the library grows; this build only prints this help.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usageText, stdout);
      return 0;
    }
  }
  std::fputs(usageText, stderr);
  return 2;
}
