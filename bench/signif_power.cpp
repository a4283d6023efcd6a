// signif_power: power of pair_signif's defaults on pairs planted in a real
// table's labels. A plant is two probes of two tight blobs each (x and y,
// shares fx and fy of the samples in their upper blob) whose XOR gives the
// table's labels except on a share `noise` of the samples. Its p depends on
// its two probes and the labels alone, so each plant is run as a table of two
// probes with the real labels; its q is the Benjamini-Hochberg q over the p
// column of the real table's pair_signif output plus the plant's p. A plant
// whose probes are not both candidates is not searched, so not called.
// Acceptance (the share of shufflings under which both probes stay
// candidates) is set by `g` small clusters per probe, each one sample of
// each label set apart from its blob: with the real labels each is as mixed
// as can be, under a shuffling about half of them come out pure, and a probe
// with two or more pure ones is seldom still a candidate.
//   signif_power TABLE SIGNIF [--plants K] [--threads T]
// Prints the share called (q < 0.05, and q < 0.005) by noise from 0 to 35%
// (fx drawn from 0.42 to 0.5, so that both probes are usually candidates;
// blob sd 0.05), then by acceptance bin and noise (0, 10, 20 and 30%; g from 0
// to 8, K plants each).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fast.h"
#include "grow.h"
#include "rng.h"
#include "signif.h"
#include "synergy.h"

namespace {

struct plant_res {
  bool cand = false;
  double p = 1, q = 1, acc = 0;
  int src = SRC_PERM;
};

double unif(rng& g) { return static_cast<double>(g.next() >> 11) * 0x1.0p-53; }

// The real table's p column (the sixth).
std::vector<double> read_p(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::vector<double> p;
  std::getline(in, line);
  while (std::getline(in, line)) {
    size_t a = 0;
    for (int k = 0; k < 5; ++k) a = line.find('\t', a) + 1;
    p.push_back(std::strtod(line.c_str() + a, nullptr));
  }
  if (p.empty()) {
    std::fprintf(stderr, "signif_power: %s holds no pair\n", path.c_str());
    std::exit(2);
  }
  std::sort(p.begin(), p.end());
  return p;
}

// q of p among the sorted real p-values: min over ranks j >= rank of p_(j) m / j.
double q_among(double p, const std::vector<double>& real) {
  const size_t m = real.size() + 1;
  const size_t r = static_cast<size_t>(std::upper_bound(real.begin(), real.end(), p) - real.begin()) + 1;
  double q = std::min(1.0, p * m / r);
  for (size_t j = r; j < m; ++j) q = std::min(q, real[j - 1] * m / (j + 1));  // real[j-1] is rank j + 1
  return q;
}

// Values of one probe: blob b[s] (0 or 1) at base + b[s] with sd, except
// `grp` small clusters of one sample of each label per blob in turn, at
// base + b + 0.12 k (k = 1, 2, ...: apart from each other beyond the cut
// height, so each stays a cluster of two).
std::vector<double> probe_vals(const std::vector<int>& b, const std::vector<int>& lab, double base, double sd,
                               int grp, rng& g) {
  const int n = static_cast<int>(b.size());
  std::vector<double> v(n);
  for (int s = 0; s < n; ++s) v[s] = base + b[s] + sd * grow::normal(g);
  std::vector<int> pool[2][2];  // [blob][label]
  std::vector<int> ord(n);
  for (int s = 0; s < n; ++s) ord[s] = s;
  shuffle_n(ord.data(), n, g);
  for (int s : ord) pool[b[s]][lab[s]].push_back(s);
  int k[2] = {0, 0};
  for (int j = 0; j < grp; ++j) {
    const int bl = j % 2;
    if (pool[bl][0].empty() || pool[bl][1].empty() || k[bl] >= 6) continue;
    const double at = base + bl + 0.12 * ++k[bl];
    for (int l = 0; l < 2; ++l) {
      v[pool[bl][l].back()] = at + 0.002 * grow::normal(g);
      pool[bl][l].pop_back();
    }
  }
  return v;
}

plant_res plant(const std::vector<int>& lab, double noise, double fx, double sd, int grp, rng& g,
                const std::string& dir, int n_thr, const std::vector<double>& real) {
  const int n = static_cast<int>(lab.size());
  std::vector<int> x(n), y(n), e(n, 0);
  // x takes a share fx of each label class, so that it says nothing about the labels alone
  for (int l = 0; l < 2; ++l) {
    std::vector<int> cl;
    for (int s = 0; s < n; ++s)
      if (lab[s] == l) cl.push_back(s);
    shuffle_n(cl.data(), static_cast<int>(cl.size()), g);
    for (int k = 0; k < static_cast<int>(std::lround(fx * static_cast<double>(cl.size()))); ++k) x[cl[k]] = 1;
  }
  // samples against the pattern: a share noise of them, drawn without replacement
  std::vector<int> ord(n);
  for (int s = 0; s < n; ++s) ord[s] = s;
  shuffle_n(ord.data(), n, g);
  for (int k = 0; k < static_cast<int>(std::lround(noise * n)); ++k) e[ord[k]] = 1;
  // y from x and the labels: its shares follow from fx and the labels
  for (int s = 0; s < n; ++s) y[s] = x[s] ^ lab[s] ^ e[s];
  grow::table t;
  t.lab = lab;
  t.name = {"plant_x", "plant_y"};
  t.val.assign(2, std::vector<double>(n));
  t.val[0] = probe_vals(x, lab, 6, sd, grp, g);
  t.val[1] = probe_vals(y, lab, 9, sd, grp, g);
  const std::string path = dir + "/plant.tsv";
  {
    std::ofstream out(path, std::ios::binary);
    out << grow::text(t);
  }
  load_exp(path.c_str());
  plant_res r;
  work w;
  work_init(w);
  part pt;
  for (int p = 0; p < 2; ++p) {
    sin_part(p, w, pt);
    if (pt.n_cl == 0 || !sig_cand(part_ent(pt, ini_phe.data(), w), CAND_BOUND)) return r;
  }
  r.cand = true;
  std::vector<sig_pair> pr(1);
  pr[0].a = 0;
  pr[0].b = 1;
  sig_opt o;
  o.tail = true;
  o.cap = SIG_PERM_TAIL;
  o.n_thr = n_thr;
  sig_run(pr, o, {});
  r.p = pr[0].p;
  r.src = pr[0].src;
  r.acc = pr[0].perms ? static_cast<double>(pr[0].adm) / static_cast<double>(pr[0].perms) : 0;
  r.q = q_among(r.p, real);
  return r;
}

double median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: signif_power TABLE SIGNIF [--plants K] [--threads T]\n");
    return 2;
  }
  int k_plants = 20, n_thr = 2;
  for (int k = 3; k + 1 < argc; k += 2) {
    const std::string a = argv[k];
    if (a == "--plants")
      k_plants = std::atoi(argv[k + 1]);
    else if (a == "--threads")
      n_thr = std::atoi(argv[k + 1]);
  }
  const grow::table src = grow::read(argv[1], 0);
  const std::vector<double> real = read_p(argv[2]);
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp ? tmp : "/tmp";
  rng g(2026);
  std::printf("%zu samples, %zu real pairs (smallest p %.3g); %d plants per row\n", src.lab.size(),
              real.size(), real.front(), k_plants);
  std::printf("%6s %10s %10s %10s %12s %12s %8s\n", "noise", "candidate", "q<0.05", "q<0.005", "median p",
              "median acc", "tail");
  for (int nz = 0; nz <= 35; nz += 5) {
    int cand = 0, c05 = 0, c005 = 0, tail = 0;
    std::vector<double> ps, acc;
    for (int k = 0; k < k_plants; ++k) {
      const plant_res r = plant(src.lab, nz / 100.0, 0.42 + 0.08 * unif(g), 0.05, 0, g, dir, n_thr, real);
      cand += r.cand;
      c05 += r.q < 0.05;
      c005 += r.q < 0.005;
      tail += r.src != SRC_PERM;
      if (r.cand) {
        ps.push_back(r.p);
        acc.push_back(r.acc);
      }
    }
    std::printf("%5d%% %10.2f %10.2f %10.2f %12.3g %12.3g %8d\n", nz, cand / double(k_plants),
                c05 / double(k_plants), c005 / double(k_plants), median(ps), median(acc), tail);
    std::fflush(stdout);
  }
  // by acceptance and noise: g small clusters per probe (0 to 8) lower the
  // acceptance; every plant is put in the bin of its measured acceptance
  const double edges[] = {0, 0.01, 0.05, 0.2, 1.01};
  const int noises[] = {0, 10, 20, 30};
  int n_b[4][4] = {}, c_b[4][4] = {}, c5_b[4][4] = {};
  for (int nz = 0; nz < 4; ++nz)
    for (int grp = 0; grp <= 8; grp += 2)
      for (int k = 0; k < k_plants; ++k) {
        const plant_res r =
            plant(src.lab, noises[nz] / 100.0, 0.42 + 0.08 * unif(g), 0.02, grp, g, dir, n_thr, real);
        if (!r.cand) continue;
        int b = 0;
        while (r.acc >= edges[b + 1]) ++b;
        ++n_b[b][nz];
        c_b[b][nz] += r.q < 0.05;
        c5_b[b][nz] += r.q < 0.005;
      }
  std::printf("\nby acceptance (candidate plants only): plants, share called at q < 0.05 / q < 0.005\n%12s",
              "acceptance");
  for (int nz : noises) std::printf("   %3d%% noise        ", nz);
  std::printf("\n");
  for (int b = 0; b < 4; ++b) {
    std::printf("%5.0f-%-5.0f%%", edges[b] * 100, std::min(1.0, edges[b + 1]) * 100);
    for (int nz = 0; nz < 4; ++nz) {
      const double m = n_b[b][nz];
      if (m > 0)
        std::printf("   %3d %5.2f / %5.2f", n_b[b][nz], c_b[b][nz] / m, c5_b[b][nz] / m);
      else
        std::printf("   %3d    -  /    - ", 0);
    }
    std::printf("\n");
  }
  return 0;
}
