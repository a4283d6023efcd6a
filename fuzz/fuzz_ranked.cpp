// Fuzz target: the ranked-list readers, on a loaded table and arbitrary list
// bytes: pair_search's candidate reader (compared with the oracle's literal
// reading whenever it accepts the list) and pair_report's strict reader.
// Each either returns what it promises or throws syn_error.
#include "fuzz_util.h"
#include "oracle/oracle.h"
#include "report.h"
#include "search.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string table, list;
  fz::split_input(data, size, table, list);
  if (!fz::load(fz::scratch(table, 0))) return 0;
  std::string path = fz::scratch(list, 1);

  // without a limit only the file itself can fail (a broken gzip stream)
  std::vector<int> any;
  bool readable = true, in_range = true;
  try {
    any = read_cand(path, -1);
  } catch (const syn_error&) {
    readable = false;
  }
  std::vector<int> cand;
  try {
    cand = read_cand(path, n_prob);
  } catch (const syn_error&) {
    in_range = false;
  }
  FUZZ_NEVER(in_range && !readable);
  bool gz = list.size() >= 2 && static_cast<unsigned char>(list[0]) == 0x1f &&
            static_cast<unsigned char>(list[1]) == 0x8b;
  if (in_range) {
    FUZZ_NEVER(cand != any);
    for (int p : cand)
      FUZZ_NEVER(p < 0 || p >= n_prob);
    // the oracle reads plain text with atoi, which is only defined for
    // numbers in range
    FUZZ_NEVER(!gz && cand != oracle::candidates(path));
  }

  try {
    rl_info rk = read_ranked(path.c_str());
    FUZZ_NEVER(static_cast<int>(rk.pos.size()) != n_prob);
    FUZZ_NEVER(rk.n_cand < 0 || rk.n_cand > static_cast<int>(rk.rows.size()));
    FUZZ_NEVER(rk.n_nopart > static_cast<int>(rk.rows.size()));
    for (size_t r = 0; r < rk.rows.size(); ++r) {
      const rl_row& row = rk.rows[r];
      FUZZ_NEVER(row.prb < 0 || row.prb >= n_prob || rk.pos[row.prb] != static_cast<int>(r));
      FUZZ_NEVER(row.name != probe[row.prb]);
    }
    // a list that the strict reader accepts gives the search the same candidates
    FUZZ_NEVER(!in_range || rk.n_cand != static_cast<int>(cand.size()));
  } catch (const syn_error&) {
  }
  return 0;
}
