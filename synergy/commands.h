// commands.h: the commands of the synergy front door, each the whole command
// line of one of the four programs, run in this process.
#pragma once

#include "rank.h"
#include "report.h"
#include "search.h"
#include "sig.h"

struct command {
  const char* name;   // "rank": synergy rank
  const char* prog;   // "probe_rank": the program of the same work
  const char* brief;  // one line for the command list and the manual's NAME
  int (*run)(int argc, char** argv, const char* name, bool front);
};

inline int signif_entry(int argc, char** argv, const char* name, bool) {
  return signif_cmd(argc, argv, name);
}
inline int report_entry(int argc, char** argv, const char* name, bool) {
  return report_cmd(argc, argv, name);
}

inline const command COMMANDS[] = {
    {"rank", "probe_rank", "rank the probes of a table by their single-probe score", rank_cmd},
    {"search", "pair_search", "greedy label-flip search over pairs of candidate probes", search_cmd},
    {"signif", "pair_signif", "permutation significance of every pair found", signif_entry},
    {"report", "pair_report", "an HTML page of the strongest pairs found", report_entry},
};

// The front door's own help: usage and the command list.
inline std::string front_help() {
  std::string t =
      "usage: synergy COMMAND [OPTIONS] ARGUMENTS\n"
      "       synergy --help | --version\n"
      "\n"
      "Gene pairs whose joint clustering tells more about a phenotype than either\n"
      "gene alone. Each command runs the program named beside it, with the same\n"
      "options and outputs; 'synergy COMMAND --help' lists them.\n"
      "\n"
      "Commands:\n";
  for (const command& c : COMMANDS) {
    std::string n = c.name;
    t += "  " + n + std::string(8 - n.size(), ' ') + c.brief + " (" + c.prog + ")\n";
  }
  t += "\n"
       "Exit status: 0 on success (also after a complete rank or search, where\n"
       "probe_rank and pair_search end with 1), 2 on an error.\n";
  return t;
}
