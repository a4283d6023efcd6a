// The ranked probe list: reader and writer.
#include "ranked.h"

#include <cmath>
#include <unordered_map>

#include "line_src.h"
#include "table.h"

namespace {
// The columns, in file order (the file has no header line).
const char* const RANKED_COLS[] = {"name", "probe", "score", "clusters"};
}  // namespace

std::vector<std::string> ranked_names() { return {std::begin(RANKED_COLS), std::end(RANKED_COLS)}; }

rl_info read_ranked(const char* path, double bound, bool table) {
  line_src in(path);
  const std::string where(path);
  rl_info rk;
  if (table) rk.pos.assign(n_prob, -1);
  std::unordered_map<int, int64_t> seen;  // without a table: probe number -> line
  std::string line;
  std::vector<std::string_view> f;
  bool lead = true;
  while (in.next(line)) {
    const int64_t ln = in.line_no();
    drop_cr(line);
    split_tabs(line, f);
    if (!in.had_nl() && f.size() < 4)
      throw syn_error(at_line(where, ln) + "list ends inside a line (cut short?): " +
                      std::to_string(f.size()) + " fields and no newline at its end");
    if (f.size() != 4)
      throw syn_error(at_line(where, ln) + "ranked list line has " + std::to_string(f.size()) +
                      " fields, expected 4 (probe name, probe number, score, cluster count)");
    rl_row r;
    if (!to_count(f[1], r.prb) || (table && r.prb >= n_prob))
      throw syn_error(
          at_line(where, ln) + "probe number " + show_field(f[1]) +
          (table ? " is not a probe of the table (" +
                       (n_prob ? "0 to " + std::to_string(n_prob - 1) : std::string("it has none")) + ")"
                 : std::string(" is not a whole number")));
    if (table && f[0] != probe[r.prb])
      throw syn_error(at_line(where, ln) + "probe " + std::to_string(r.prb) + " is named " +
                      show_field(f[0]) + " here but " + show_field(probe[r.prb]) +
                      " in the table: list made from another table?");
    double v = 0.0;
    if (num_field(f[2], false, v) == num_kind::ok && std::isnan(v))
      throw syn_error(at_line(where, ln) + "score " + show_field(f[2]) + " is not a number (NaN)");
    if (!to_real(f[2], r.score))
      throw syn_error(at_line(where, ln) + "score " + show_field(f[2]) + " is not a number");
    if (!to_count(f[3], r.n_cl))
      throw syn_error(at_line(where, ln) + "cluster count " + show_field(f[3]) + " is not a whole number");
    int64_t before = -1;
    if (table) {
      if (rk.pos[r.prb] >= 0) before = rk.pos[r.prb] + 1;
    } else {
      auto it = seen.emplace(r.prb, ln);
      if (!it.second) before = it.first->second;
    }
    if (before >= 0)
      throw syn_error(at_line(where, ln) + "probe " + show_field(f[0]) + " is listed twice (also on line " +
                      std::to_string(before) + ")");
    r.name = std::string(f[0]);
    if (table) rk.pos[r.prb] = static_cast<int>(rk.rows.size());
    // the search takes leading lines while their score stays above the bound
    if (lead && r.score > bound)
      ++rk.n_cand;
    else
      lead = false;
    if (r.score == NO_PART) ++rk.n_nopart;
    rk.rows.push_back(std::move(r));
  }
  return rk;
}

std::vector<int> cand_of(const rl_info& rk) {
  std::vector<int> c;
  c.reserve(rk.n_cand);
  for (int k = 0; k < rk.n_cand; ++k) c.push_back(rk.rows[k].prb);
  return c;
}

void ranked_line(std::string& out, std::string_view name, int prb, double score, int n_cl) {
  char num[SCORE_CHARS];
  out += name;
  out += '\t';
  out += std::to_string(prb);
  out += '\t';
  out.append(num, static_cast<size_t>(score_chars(score, num)));
  out += '\t';
  out += std::to_string(n_cl);
  out += '\n';
}

std::string write_ranked(const std::vector<rl_row>& rows) {
  std::string out;
  for (size_t k = 0; k < rows.size(); ++k) {
    const std::string why = name_fault(rows[k].name);
    if (!why.empty())
      throw syn_error("ranked: row " + std::to_string(k + 1) + ": probe " + show_field(rows[k].name) + ": " +
                      why);
    ranked_line(out, rows[k].name, rows[k].prb, rows[k].score, rows[k].n_cl);
  }
  return out;
}
