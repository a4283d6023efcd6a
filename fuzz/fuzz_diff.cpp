// Differential fuzz target: the bytes are decoded into a small valid table
// (2 to 24 samples, 1 to 6 probes, values on a coarse decimal grid so that
// distances tie and land on the merge threshold), then the ranked probe list
// and the pair search over the whole candidate list, or a range of it, are
// produced through the programs' own library routines (fast path, one or two
// threads) and compared, byte for byte, with the literal oracle. Any
// difference prints both sides and aborts.
//
// Inputs whose first byte is 0xF0 or more decode instead into a table of 100
// to 600 samples and two probes whose values are rounded to 1 to 4 decimals
// (gen::rounded_values, seeded from the bytes): ties everywhere, merges at
// the cut height. There the single and joint partitions, both selectors
// (Chebyshev also without a matrix for every group), are compared with the
// oracle's: the literal flip search would take minutes at those sizes, and
// the literal clustering of larger tables more than the run's time limit
// for one input (tests/diff/test_diff_real.cpp goes to 2000 samples).
#include <cstdio>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "fast.h"
#include "fuzz_util.h"
#include "gen.h"
#include "oracle/oracle.h"
#include "rank.h"
#include "search.h"

namespace {

struct bytes {
  const uint8_t* d;
  size_t n, k = 0;
  unsigned next() { return k < n ? d[k++] : 0u; }
};

// Grid steps in hundredths: 0.03 and 0.06 put pair distances exactly on the
// threshold's decimal neighbours; 0.25 and 1 are exact in binary.
constexpr int STEP[8] = {1, 2, 3, 4, 6, 12, 25, 100};

std::string grid_num(int hundredths, unsigned style) {
  char buf[48];
  int a = hundredths < 0 ? -hundredths : hundredths;
  const char* sign = hundredths < 0 ? "-" : "";
  switch (style % 4) {
    case 0: std::snprintf(buf, sizeof buf, "%s%d.%02d", sign, a / 100, a % 100); break;
    case 1: std::snprintf(buf, sizeof buf, "%s%d.%02d0", hundredths < 0 ? "-" : "+", a / 100, a % 100); break;
    case 2: std::snprintf(buf, sizeof buf, " %s%de-2", sign, a); break;
    default: std::snprintf(buf, sizeof buf, "%s%d.%02d", sign, a / 100, a % 100); break;
  }
  return buf;
}

struct table {
  std::string text;
  int n_thr = 1;
  unsigned r1 = 0, r2 = 0;  // the candidate range; r1 0: the whole list
};

table decode(const uint8_t* data, size_t size) {
  bytes b{data, size};
  int ns = 2 + static_cast<int>(b.next() % 23);
  int np = 1 + static_cast<int>(b.next() % 6);
  unsigned fl = b.next();
  bool crlf = fl & 1, trail_tab = fl & 2, blank = fl & 4, no_final_nl = fl & 8, odd = fl & 32,
       dup = fl & 64;
  table t;
  t.n_thr = (fl & 16) ? 2 : 1;
  const std::string nl = crlf ? "\r\n" : "\n";

  t.text = "probe";
  for (int s = 0; s < ns; ++s) t.text += "\ts" + std::to_string(s);
  t.text += nl + "label";
  // flag 128 alternates the labels (a label byte's low bit then flips one),
  // which with paired values below yields the uninformative probes that
  // become pair candidates
  for (int s = 0; s < ns; ++s) t.text += ((b.next() & 1) ^ ((fl & 128) ? s & 1 : 0)) ? "\t1" : "\t0";
  for (int p = 0; p < np; ++p) {
    unsigned hd = b.next();
    int step = STEP[hd % 8];
    int base = static_cast<int>((hd >> 3) % 8) - 4;
    t.text += nl;
    // skipped lines: shorter than 2 characters (a lone carriage return counts)
    if (blank && p > 0) t.text += (crlf || p % 2) ? nl : "x\n";
    t.text += (dup && p % 2) ? "g" : "g" + std::to_string(p);
    bool paired = hd & 64;  // samples 2k and 2k+1 share the value drawn for 2k
    int h = 0;
    for (int s = 0; s < ns; ++s) {
      unsigned v = b.next();
      if (!paired || s % 2 == 0) h = (base + static_cast<int>(v % 24)) * step;
      t.text += "\t" + grid_num(h, odd ? v >> 5 : 0);
    }
    if (trail_tab) t.text += "\t";
  }
  if (!no_final_nl) t.text += nl;
  t.r1 = b.next();
  t.r2 = b.next();
  return t;
}

std::string join(const std::vector<int>& v) {
  std::string s;
  for (int x : v) s += std::to_string(x) + " ";
  return s;
}

[[noreturn]] void differ(const char* what, const std::string& fast, const std::string& lit,
                         const std::string& tab) {
  std::cerr << "DIFFERENCE in " << what << "\n--- table\n"
            << tab << "\n--- fast path\n"
            << fast << "\n--- oracle\n"
            << lit << "\n";
  std::abort();
}

// The rounded tables: partitions of the fast path against the oracle's.
void rounded(const uint8_t* data, size_t size) {
  bytes b{data + 1, size - 1};
  const int n = 100 + static_cast<int>((b.next() << 8 | b.next()) % 501);
  const int dec = 1 + static_cast<int>(b.next() % 4);
  uint64_t seed = 0;
  for (int k = 0; k < 8; ++k) seed = seed << 8 | b.next();
  std::mt19937_64 r(seed);
  std::string text = "probe";
  for (int s = 0; s < n; ++s) text += "\ts" + std::to_string(s);
  text += "\nlabel";
  for (int s = 0; s < n; ++s) text += r() % 2 ? "\t1" : "\t0";
  char buf[32];
  for (int p = 0; p < 2; ++p) {
    text += "\ng" + std::to_string(p);
    for (double x : gen::rounded_values(r, n, dec)) {
      std::snprintf(buf, sizeof buf, "\t%.*f", dec, x);
      text += buf;
    }
  }
  text += "\n";
  const std::string path = fz::scratch(text, 0);
  fz::reset_state();
  load_exp(path.c_str());
  oracle::load(path);
  work w;
  work_init(w);
  part sp[2], pj;
  auto same = [&](const part& pt, const std::string& d, const char* what) {
    int k = 0;
    const std::vector<int> c = gen::cid_of(d, n_samp, k);
    if (pt.n_cl != k || (k > 0 && pt.cid != c)) differ(what, std::to_string(pt.n_cl) + " clusters", d, text);
  };
  for (int p = 0; p < 2; ++p) {
    sin_part(p, w, sp[p]);
    same(sp[p], oracle::sin_part(p), "single partition");
  }
  for (int sel = 0; sel < 2; ++sel) {
    const std::string d = oracle::two_part(0, 1, sel);
    for (int bm : {work().bnd_min, 2}) {
      w.bnd_min = bm;
      two_part(0, 1, sel, sp[0], sp[1], w, pj);
      same(pj, d, sel ? "joint partition, Euclidean" : "joint partition, Chebyshev");
      if (sel) break;  // the bound applies to Chebyshev groups only
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && data[0] >= 0xF0) {
    rounded(data, size);
    return 0;
  }
  table t = decode(data, size);
  std::string exp_path = fz::scratch(t.text, 0);

  fz::reset_state();
  read_exp(exp_path.c_str());
  check_exp(exp_path.c_str());  // every decoded table is valid: an error here is a finding
  init_work();
  tab_init();

  std::string ranked = rank_text(rank_probes(t.n_thr, {}));
  std::string o_ranked = oracle::rank_list(exp_path);
  if (ranked != o_ranked) differ("ranked probe list", ranked, o_ranked, t.text);
  std::string ranked_path = fz::scratch(ranked, 1);

  std::vector<int> cand = read_cand(ranked_path, n_prob), o_cand = oracle::candidates(ranked_path);
  if (cand != o_cand) differ("candidate list", join(cand), join(o_cand), t.text);

  // a range of the candidate list, as a shard of a split run takes it
  int n = static_cast<int>(cand.size()), start = 0, end = n;
  if (t.r1 != 0) {
    start = static_cast<int>((t.r1 - 1) % static_cast<unsigned>(n + 1));
    end = start + static_cast<int>(t.r2 % static_cast<unsigned>(n - start + 1));
  }

  std::string rec_path = fz::scratch_path(2);
  std::remove(rec_path.c_str());  // a search without records must not create the file
  FILE* prog = std::tmpfile();
  if (!prog) std::abort();
  {
    rec_out rec(rec_path);
    run_search(cand, start, end, t.n_thr, rec, prog, {});
  }
  std::string progress;
  std::rewind(prog);
  char buf[4096];
  size_t k;
  while ((k = std::fread(buf, 1, sizeof buf, prog)) > 0) progress.append(buf, k);
  std::fclose(prog);

  FILE* f = std::fopen(rec_path.c_str(), "rb");
  bool created = f != nullptr;
  if (f) std::fclose(f);
  std::string records = fz::slurp(rec_path);

  oracle::search_out o = oracle::pair_search(exp_path, ranked_path, start, end);
  static const bool verbose = std::getenv("FUZZ_DIFF_VERBOSE") != nullptr;
  if (verbose)
    std::cerr << "samples " << n_samp << " probes " << n_prob << " threads " << t.n_thr << " candidates "
              << cand.size() << " range " << start << ".." << end << " record bytes " << records.size() << "\n";
  if (records != o.records) differ("pair records", records, o.records, t.text);
  if (progress != o.progress) differ("progress lines", progress, o.progress, t.text);
  if (created != !o.records.empty()) differ("record file creation", created ? "created" : "absent",
                                            o.records.empty() ? "absent" : "created", t.text);

  // the step-by-step optimisation of the library, on one pair and both selectors
  if (!cand.empty()) {
    int a = cand.front(), bb = cand.back();
    for (int sel = 0; sel < 2; ++sel) {
      std::string one_path = fz::scratch_path(3);
      std::remove(one_path.c_str());
      int r = optimize(a, bb, sel, one_path.c_str());
      std::string o_rec;
      int o_r = oracle::optimize(a, bb, sel, o_rec);
      std::string rec1 = fz::slurp(one_path);
      if (r != o_r || rec1 != o_rec) differ("optimize", std::to_string(r) + "\n" + rec1,
                                            std::to_string(o_r) + "\n" + o_rec, t.text);
    }
  }
  return 0;
}
