// The synergy front door: each command gives the outputs of its program byte
// for byte, ending with 0 where probe_rank and pair_search end with 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_prog.h"

namespace {

const std::string syn_bin = SYNERGY_BIN;
const std::string example = std::string(SYN_SOURCE_DIR) + "/examples/all_bcr_abl_500.tsv";

// A page without its footer, which names the command that wrote it.
std::string no_footer(std::string page) {
  const size_t a = page.find("<footer>"), b = page.find("</footer>");
  return a == std::string::npos || b == std::string::npos ? page : page.erase(a, b - a);
}

}  // namespace

TEST(front, SameOutputsAsTheProgramsExitZero) {
  const std::string d = run::fresh_dir("front_same");
  // "@" in an argument stands for the run's own output prefix (p: the program, s: synergy)
  struct step {
    const char* cmd;
    std::string bin;
    std::vector<std::string> args;
    std::vector<std::string> outs;  // files written, by their name after the prefix
    int own;                        // the program's status after a complete run
  };
  const std::string r = d + "/p.ranked", rec = d + "/p.rec";
  const std::vector<step> steps = {
      {"rank", PROBE_RANK_BIN, {example, "@ranked"}, {"ranked"}, 1},
      {"search", PAIR_SEARCH_BIN, {"--count-candidates", r}, {}, 0},
      {"search", PAIR_SEARCH_BIN, {"-t", "2", example, r, "0", "4", "@rec"}, {"rec"}, 1},
      {"signif", PAIR_SIGNIF_BIN, {"--perm", "2000", example, r, rec, "@sig"}, {"sig"}, 0},
      {"report",
       PAIR_REPORT_BIN,
       {"--signif", d + "/p.sig", "--tsv", "@pairs", example, r, rec, "@html"},
       {"pairs", "html"},
       0},
  };
  for (const step& s : steps) {
    run::result got[2];
    for (int k = 0; k < 2; ++k) {
      const std::string pre = d + (k ? "/s." : "/p.");
      std::vector<std::string> a = k ? std::vector<std::string>{s.cmd} : std::vector<std::string>{};
      for (const std::string& x : s.args) a.push_back(x[0] == '@' ? pre + x.substr(1) : x);
      got[k] = run::prog(k ? syn_bin : s.bin, a, d + "/run");
    }
    EXPECT_EQ(got[0].status, s.own) << s.cmd << got[0].err;
    EXPECT_EQ(got[1].status, 0) << s.cmd << got[1].err;
    EXPECT_EQ(got[0].out, got[1].out) << s.cmd;
    for (const std::string& o : s.outs)
      EXPECT_EQ(no_footer(run::table(run::slurp(d + "/p." + o))), no_footer(run::table(run::slurp(d + "/s." + o))))
          << "synergy " << s.cmd << ": " << o;
  }
  EXPECT_FALSE(run::slurp(d + "/s.rec").empty());
}

TEST(front, HelpVersionAndErrors) {
  const std::string d = run::fresh_dir("front_cmd");
  struct want {
    std::vector<std::string> args;
    int status;
    const char* in_out;  // text in stdout ("" for none)
    const char* in_err;  // text in stderr ("" for none)
  };
  const std::vector<want> cases = {
      {{"--help"}, 0, "signif", ""},
      {{"--version"}, 0, "synergy 1.0.0\n", ""},
      {{"rank", "--help"}, 0, "usage: synergy rank", ""},
      {{"search", "--version"}, 0, "synergy search 1.0.0", ""},
      {{}, 2, "", "synergy: missing command"},
      {{"rnak"}, 2, "", "synergy: unknown command 'rnak'"},
      {{"rank", d + "/none.tsv", d + "/r.tsv"}, 2, "", "synergy rank: "},
      {{"signif", "--perm", "0"}, 2, "", "usage: synergy signif"},
  };
  for (const want& w : cases) {
    run::result r = run::prog(syn_bin, w.args, d + "/run");
    std::string line = w.args.empty() ? "(none)" : w.args[0];
    EXPECT_EQ(r.status, w.status) << line << ": " << r.err;
    EXPECT_NE(r.out.find(w.in_out), std::string::npos) << line << ": " << r.out;
    EXPECT_NE(r.err.find(w.in_err), std::string::npos) << line << ": " << r.err;
  }
}
