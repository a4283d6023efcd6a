// Fuzz target: pair_report's readers on a loaded table and arbitrary pair
// record bytes (plain or gzip), and the page drawn from what they accept.
// A reader either returns a consistent summary or throws syn_error; the page
// never carries markup from the inputs (no script, valid UTF-8).
#include <sstream>

#include "fast.h"
#include "fuzz_util.h"
#include "rank.h"
#include "report.h"

namespace {

constexpr int TOP_N = 3;
constexpr int MAX_PAGE_SAMP = 40;  // the page needs a ranked list: scoring costs time

bool valid_utf8(const std::string& s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    for (int k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string table, recs;
  fz::split_input(data, size, table, recs);
  std::string tab_path = fz::scratch(table, 0);
  if (!fz::load(tab_path)) return 0;
  std::string path = fz::scratch(recs, 1);

  std::vector<std::string> names = read_names(tab_path.c_str(), n_samp);
  FUZZ_NEVER(static_cast<int>(names.size()) != n_samp);

  rec_sum rs;
  try {
    rs = read_records(path.c_str(), TOP_N);
  } catch (const syn_error&) {
    return 0;
  }
  // records always end with a newline: a file that does not was cut short (a
  // killed run), and its last field may be a cut number that still parses, so
  // a reader that accepts it reads a wrong record
  bool gz = recs.size() >= 2 && static_cast<unsigned char>(recs[0]) == 0x1f &&
            static_cast<unsigned char>(recs[1]) == 0x8b;
  FUZZ_NEVER(!gz && !recs.empty() && recs.back() != '\n');  // accepted a record file cut short
  FUZZ_NEVER(rs.n_dup < 0 || rs.n_dup > rs.n_rec || static_cast<long>(rs.syn.size()) != rs.n_rec - rs.n_dup);
  FUZZ_NEVER(static_cast<long>(rs.top.size()) > TOP_N || rs.top.size() > rs.syn.size());
  for (size_t k = 0; k < rs.top.size(); ++k) {
    const pair_rec& r = rs.top[k];
    FUZZ_NEVER(k > 0 && rs.top[k - 1].syn < r.syn);
    FUZZ_NEVER(static_cast<int>(r.lab.size()) != n_samp || static_cast<int>(r.cid.size()) != n_samp);
    FUZZ_NEVER(r.pa < 0 || r.pa >= n_prob || r.pb < 0 || r.pb >= n_prob);
    FUZZ_NEVER(r.n_cl < (n_samp > 0 ? 1 : 0) || r.n_cl > n_samp);
    for (int c : r.cid)
      FUZZ_NEVER(c < 0 || c >= n_samp);
  }
  for (int s : flip_rank(rs))
    FUZZ_NEVER(s < 0 || s >= n_samp);

  if (n_samp > MAX_PAGE_SAMP) return 0;
  init_work();
  tab_init();
  std::string ranked_path = fz::scratch(rank_text(rank_probes(1, {})), 2);
  rl_info rk = read_ranked(ranked_path.c_str());  // a list written for this table must read back
  page_in in;
  in.expr_path = tab_path;
  in.ranked_path = ranked_path;
  in.rec_path = path;
  in.version = "fuzz";
  in.top_n = TOP_N;
  in.names = names;
  in.rk = &rk;
  in.rs = &rs;
  std::ostringstream os;
  write_page(os, in);
  const std::string page = os.str();
  FUZZ_NEVER(page.find("<script") != std::string::npos || page.find("<SCRIPT") != std::string::npos);
  FUZZ_NEVER(!valid_utf8(page));
  return 0;
}
