// The search-null file: reader and writer.
#include "null_file.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

#include "line_src.h"
#include "synergy.h"
#include "table.h"

std::vector<std::string> null_names() { return {"seed", "candidates", "best_base", "best_final"}; }

std::string null_text(uint64_t seed, int n_cand, bool has, double best_base, double best_final) {
  std::string out = std::to_string(seed) + '\t' + std::to_string(n_cand) + '\t';
  if (!has) return out + "NA\tNA\n";
  return out + score_text(best_base) + '\t' + score_text(best_final) + '\n';
}

null_tab read_null(const char* path) {
  line_src in(path);
  const std::string where(path);
  null_tab t;
  std::string line;
  std::vector<std::string_view> f;
  std::unordered_map<std::string, int64_t> seeds;  // seed without leading zeros -> line
  while (in.next(line)) {
    const int64_t ln = in.line_no();
    drop_cr(line);
    if (ln == 1 && line + "\n" == head_line(null_names())) continue;
    split_tabs(line, f);
    if (f.size() != 4)
      throw syn_error(at_line(where, ln) + "line has " + std::to_string(f.size()) +
                      " fields, expected 4 (seed, candidates, best base synergy, best final synergy)");
    int64_t v = 0;
    bool seed_ok = !f[0].empty() && f[0].size() <= 20 &&
                   std::all_of(f[0].begin(), f[0].end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!seed_ok) throw syn_error(at_line(where, ln) + "seed " + show_field(f[0]) + " is not a whole number");
    std::string_view sd = f[0].substr(std::min(f[0].find_first_not_of('0'), f[0].size() - 1));
    auto again = seeds.emplace(std::string(sd), ln);
    if (!again.second)
      throw syn_error(at_line(where, ln) + "seed " + show_field(f[0]) + " is also on line " +
                      std::to_string(again.first->second) + ": each shuffled-label search counts once");
    if (!count_field(f[1], false, INT32_MAX, v))
      throw syn_error(at_line(where, ln) + "candidate count " + show_field(f[1]) + " is not a whole number");
    ++t.n;
    if (f[2] == "NA" && f[3] == "NA") {
      ++t.n_na;
      continue;
    }
    double b = 0, x = 0;
    if (num_field(f[2], false, b) != num_kind::ok || num_field(f[3], false, x) != num_kind::ok ||
        !std::isfinite(b) || !std::isfinite(x))
      throw syn_error(at_line(where, ln) + "best synergies " + show_field(f[2]) + ", " + show_field(f[3]) +
                      " are not two numbers (or NA for both)");
    t.best_fin.push_back(x);
  }
  if (t.n == 0)
    throw syn_error(where +
                    ": no search line: a search-null file needs at least one line (seed, candidates, best "
                    "base synergy, best final synergy)");
  return t;
}
