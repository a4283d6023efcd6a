// The process-wide analysis state: defined here, declared in synergy.h.
#include "synergy.h"

std::vector<std::string> probe;
std::vector<int> phe;
std::vector<std::vector<double>> expr;
int n_samp = 0;
int n_prob = 0;
std::vector<int> p_line;
int n_line = 0;
std::vector<int> ini_phe;
std::vector<std::vector<double>> dis;
int min_id[2] = {0, 0};
std::vector<int> s_cid;
std::string dndr;
const double cut = 0.06;
std::vector<double> ent_tab;
std::vector<double> phe_tab;

void init_work() {
  dis.assign(n_samp, std::vector<double>(n_samp));
  s_cid.assign(n_samp, 0);
  ini_phe.assign(phe.begin(), phe.end());
}
