// The process-wide analysis state: defined here, declared in synergy.h.
#include "synergy.h"

#include "fast.h"
#include "rng.h"
#include "sheet.h"

std::vector<std::string> probe;
std::vector<int> phe;
std::vector<std::vector<double>> expr;
int n_samp = 0;
int n_prob = 0;
std::vector<int64_t> p_line;
int64_t n_line = 0;
std::vector<int> ini_phe;
std::vector<std::vector<double>> dis;
int min_id[2] = {0, 0};
std::vector<int> s_cid;
std::string dndr;
const double cut = 0.06;
std::vector<double> ent_tab;
std::vector<double> phe_tab;

void init_work() {
  dis.clear();  // sized by the first distance build (cluster.cpp)
  s_cid.assign(n_samp, 0);
  ini_phe.assign(phe.begin(), phe.end());
}

void reset_exp() {
  probe.clear();
  phe.clear();
  expr.clear();
  p_line.clear();
  n_samp = 0;
  n_prob = 0;
  n_line = 0;
  ini_phe.clear();
  dis.clear();
  min_id[0] = min_id[1] = 0;
  s_cid.clear();
  dndr.clear();
  ent_tab.clear();
  phe_tab.clear();
  cls_name[0] = "label 0";
  cls_name[1] = "label 1";
  samp_field.clear();
}

void load_exp(const char* path, const load_tick& tick) {
  reset_exp();
  read_exp(path, tick);
  check_exp(path);
  init_work();
  tab_init();
}

void shuffle_phe(uint64_t seed) {
  rng g(seed);
  shuffle_n(phe.data(), n_samp, g);
  ini_phe.assign(phe.begin(), phe.end());
}
