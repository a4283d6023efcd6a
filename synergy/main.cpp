// synergy: one program for the whole chain, "synergy rank|search|signif|report
// ...", running the same code as the four programs, ending with 0 on success.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "commands.h"

int main(int argc, char** argv) {
  const char* cmd = argc > 1 ? argv[1] : "";
  if (std::strcmp(cmd, "-h") == 0 || std::strcmp(cmd, "--help") == 0 || std::strcmp(cmd, "help") == 0) {
    std::fputs(front_help().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
  }
  if (std::strcmp(cmd, "--version") == 0) {
    std::printf("synergy %s\n", syn_version());
    return std::fflush(stdout) == 0 ? 0 : 2;
  }
  for (const command& c : COMMANDS)
    if (std::strcmp(cmd, c.name) == 0) {
      const std::string name = std::string("synergy ") + c.name;
      return c.run(argc - 1, argv + 1, name.c_str(), true);
    }
  if (*cmd)
    std::fprintf(stderr, "synergy: unknown command '%s'\n", cmd);
  else
    std::fputs("synergy: missing command\n", stderr);
  std::fputs("usage: synergy rank|search|signif|report [OPTIONS] ARGUMENTS\nTry 'synergy --help' for more.\n",
             stderr);
  return 2;
}
