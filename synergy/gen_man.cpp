// gen_man: the manual pages, written at build time from the option tables
// that print --help (never installed).
//   gen_man PROG OUT      page of probe_rank, pair_search, pair_signif or pair_report
//   gen_man synergy OUT   page of the front door, every command's options in it
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"
#include "commands.h"

namespace {

void head(const char* name, const char* brief) {
  std::printf(".TH %s 1 \"\" \"synergy %s\" \"User Commands\"\n.SH NAME\n%s \\- %s\n", name, syn_version(),
              name, brief);
}

void tail(const char* self) {
  std::string see;
  for (const command& c : COMMANDS)
    if (std::strcmp(c.prog, self) != 0)
      see += std::string(see.empty() ? "" : ",\n") + "\\fB" + c.prog + "\\fR(1)";
  if (std::strcmp(self, "synergy") != 0) see = "\\fBsynergy\\fR(1),\n" + see;
  std::printf(".SH \"SEE ALSO\"\n%s\n", see.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: gen_man PROG OUT\n", stderr);
    return 2;
  }
  if (!std::freopen(argv[2], "w", stdout)) {
    std::perror(argv[2]);
    return 2;
  }
  char arg0[] = "man";
  char* args[] = {arg0, nullptr};
  if (std::strcmp(argv[1], "synergy") == 0) {
    head("synergy", "gene pairs whose joint clustering tells more than either gene alone");
    std::printf(
        ".SH SYNOPSIS\n\\fBsynergy\\fR \\fICOMMAND\\fR [\\fIOPTIONS\\fR] \\fIARGUMENTS\\fR\n.br\n"
        "\\fBsynergy\\fR \\-\\-help | \\-\\-version\n.SH DESCRIPTION\n"
        "Each command runs the program named beside it, in the same process, with the same\n"
        "options and outputs; it ends with exit status 0 on success.\n");
    for (const command& c : COMMANDS)
      std::printf(".TP\n\\fB%s\\fR\n%s (\\fB%s\\fR(1))\n", c.name, c.brief, c.prog);
    std::printf(".SH COMMANDS\n");
    man_mode = man_kind::section;
    for (const command& c : COMMANDS) {
      const std::string name = std::string("synergy ") + c.name;
      if (c.run(1, args, name.c_str(), true) != 0) return 2;
    }
    std::printf(
        ".SH \"EXIT STATUS\"\n0 on success (also after a complete rank or search, where\n"
        "\\fBprobe_rank\\fR and \\fBpair_search\\fR end with 1), 2 on an error.\n");
    tail("synergy");
    return std::fflush(stdout) == 0 ? 0 : 2;
  }
  for (const command& c : COMMANDS)
    if (std::strcmp(argv[1], c.prog) == 0) {
      head(c.prog, c.brief);
      man_mode = man_kind::whole;
      if (c.run(1, args, c.prog, false) != 0) return 2;
      tail(c.prog);
      return std::fflush(stdout) == 0 ? 0 : 2;
    }
  std::fprintf(stderr, "gen_man: unknown program '%s'\n", argv[1]);
  return 2;
}
