// The literal reference: every routine in its plain step order, nothing cached.
#include "oracle/oracle.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace oracle {
namespace {

// ---- state of the reference -------------------------------------------------
std::vector<std::string> o_probe;
std::vector<int> o_phe;
std::vector<std::vector<double>> o_expr;
int o_n_samp = 0;
int o_n_prob = 0;
std::vector<int> o_ini_phe;
std::vector<std::vector<double>> o_dis;
int o_min_id[2] = {0, 0};
std::vector<int> o_s_cid;
std::string o_dndr;
const double o_cut = 0.06;
const double o_start_bound = 10000000.0;
const double o_no_part = -10.0;
stats o_stats;

// Fields of a line: a line with k tabs has k + 1 fields, empty ones included.
std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> f;
  std::string cur;
  for (char c : line) {
    if (c == '\t') {
      f.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  f.push_back(cur);
  return f;
}

void read_exp(const std::string& path) {
  o_probe.clear();
  o_phe.clear();
  o_expr.clear();
  o_n_samp = 0;
  o_n_prob = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("oracle: cannot open " + path);
  std::string line;
  std::getline(in, line);  // header, ignored
  line.clear();
  std::getline(in, line);  // labels
  std::vector<std::string> f = split_tabs(line);
  for (size_t k = 1; k < f.size(); ++k) o_phe.push_back(std::atoi(f[k].c_str()));
  o_n_samp = static_cast<int>(o_phe.size());
  o_n_prob = 0;
  while (std::getline(in, line)) {
    if (line.size() < 2) continue;
    f = split_tabs(line);
    o_probe.push_back(f[0]);
    std::vector<double> row;
    for (size_t k = 1; k < f.size(); ++k) row.push_back(std::atof(f[k].c_str()));
    o_expr.push_back(row);
    o_n_prob += 1;
  }
}

void setup_work() {
  o_dis.assign(o_n_samp, std::vector<double>(o_n_samp, 0.0));
  o_s_cid.assign(o_n_samp, 0);
  o_ini_phe.assign(o_n_samp, 0);
  for (int i = 0; i < o_n_samp; ++i) o_ini_phe[i] = o_phe[i];
  o_min_id[0] = 0;
  o_min_id[1] = 0;
  o_dndr.clear();
}

double val(int p, int s) { return o_expr.at(p).at(s); }

// ---- distances --------------------------------------------------------------
double d_sin(int p, int i, int j, int) { return std::fabs(val(p, i) - val(p, j)); }

double d_eu(int p, int i, int j, int q) {
  double a = val(p, i) - val(p, j);
  double b = val(q, i) - val(q, j);
  return std::sqrt(a * a + b * b);
}

double d_ch(int p, int i, int j, int q) {
  double a = std::fabs(val(p, i) - val(p, j));
  double b = std::fabs(val(q, i) - val(q, j));
  if (a > b) return a;
  return b;
}

void build(double (*dist)(int, int, int, int), int p, int q) {
  double best = o_start_bound;
  for (int i = 0; i < o_n_samp; ++i) o_dis[i][i] = 0;
  for (int i = 0; i <= o_n_samp - 2; ++i)
    for (int j = i + 1; j <= o_n_samp - 1; ++j) {
      double d = dist(p, i, j, q);
      o_dis[i][j] = d;
      o_dis[j][i] = d;
      if (d == best) o_stats.ties += 1;
      if (d < best) {
        best = d;
        o_min_id[0] = i;
        o_min_id[1] = j;
      }
    }
}

// ---- clustering -------------------------------------------------------------
void cluster() {
  int count = o_n_samp;
  std::vector<double> size(o_n_samp);
  std::vector<std::string> list(o_n_samp);
  for (int s = 0; s < o_n_samp; ++s) {
    size[s] = 1.0;
    list[s] = std::to_string(s);
  }
  int lo = o_min_id[0];
  int hi = o_min_id[1];
  bool stopped = false;
  while (count > 1) {
    double h = o_dis[lo][hi] / 2;
    if (h > o_cut) {
      o_dndr = list[0];
      for (int k = 1; k <= count - 1; ++k) o_dndr += "\t" + list[k];
      stopped = true;
      break;
    }
    if (h == o_cut) o_stats.cut_equal += 1;
    double n_lo = size[lo];
    double n_hi = size[hi];
    for (int k = 0; k < count; ++k) {
      if (k == lo || k == hi) continue;
      double d = (n_lo * o_dis[k][lo] + n_hi * o_dis[k][hi]) / (n_lo + n_hi);
      o_dis[k][lo] = d;
      o_dis[lo][k] = d;
    }
    list[lo] = list[lo] + "," + list[hi];
    size[lo] = n_lo + n_hi;
    for (int j = hi; j <= count - 2; ++j) {
      size[j] = size[j + 1];
      list[j] = list[j + 1];
      for (int k = 0; k <= hi - 1; ++k) {
        o_dis[k][j] = o_dis[k][j + 1];
        o_dis[j][k] = o_dis[k][j];
      }
      for (int k = hi; k <= j - 1; ++k) {
        o_dis[k][j] = o_dis[k + 1][j + 1];
        o_dis[j][k] = o_dis[k][j];
      }
    }
    count = count - 1;
    double best = o_start_bound;
    for (int q = 0; q <= count - 1; ++q)
      for (int r = q + 1; r <= count - 1; ++r) {
        if (o_dis[q][r] == best) o_stats.ties += 1;
        if (o_dis[q][r] < best) {
          best = o_dis[q][r];
          lo = q;
          hi = r;
        }
      }
  }
  if (!stopped) o_dndr = "N";
}

// ---- scores -----------------------------------------------------------------
double mi(double x) {
  double p;
  if (x > 0.5)
    p = x;
  else
    p = 1 - x;
  if (p == 1.0) p = 0.9999;
  const double ln2 = 0.6931471805599453;
  return (-p * std::log(p)) / ln2 - (std::log(1 - p) * (1 - p)) / ln2;
}

double synergic_impl(const std::vector<int>& lab) {
  int n = static_cast<int>(o_dndr.size());
  if (n == 1) return o_no_part;
  std::string buf;
  double m = 0.0, s = 0.0, t = 0.0;
  int k = 0;
  for (int c = 0; c < n; ++c) {
    char ch = o_dndr[c];
    if (ch >= '0' && ch <= '9') {
      buf += ch;
    } else if (ch == ',') {
      int i = std::stoi(buf);
      m += 1.0;
      s += static_cast<double>(lab.at(i));
      o_s_cid.at(i) = k;
      buf.clear();
    } else {
      int i = std::stoi(buf);
      m += 1.0;
      s += static_cast<double>(lab.at(i));
      o_s_cid.at(i) = k;
      buf.clear();
      t += mi(s / m) * m;
      m = 0.0;
      s = 0.0;
      k += 1;
    }
  }
  int i = std::stoi(buf);
  m += 1.0;
  s += static_cast<double>(lab.at(i));
  o_s_cid.at(i) = k;
  t += mi(s / m) * m;
  return t / o_n_samp;
}

double phe_synergic(const std::vector<int>& lab) {
  int sum = 0;
  for (int i = 0; i < o_n_samp; ++i) sum += lab[i];
  return mi(static_cast<double>(sum) / static_cast<double>(o_n_samp));
}

double sin_syn_impl(int p, const std::vector<int>& lab) {
  build(d_sin, p, p);
  cluster();
  if (o_dndr == "N") return o_no_part;
  return synergic_impl(lab);
}

std::string fmt(double x) {
  std::ostringstream os;
  os << x;
  return os.str();
}

}  // namespace

void load(const std::string& expr_path) {
  read_exp(expr_path);
  setup_work();
}

double sin_syn(int p, const std::vector<int>& lab) { return sin_syn_impl(p, lab); }

double two_syn(int a, int b, const std::vector<int>& lab, int sel) {
  double s1 = sin_syn_impl(a, lab);
  if (s1 == o_no_part) return o_no_part;
  double s2 = sin_syn_impl(b, lab);
  if (s2 == o_no_part) return o_no_part;
  if (sel == 0)
    build(d_ch, a, b);
  else
    build(d_eu, a, b);
  cluster();
  if (o_dndr == "N") return o_no_part;
  double e = synergic_impl(lab);
  double h = phe_synergic(lab);
  return ((s1 + s2) - e) - h;
}

const std::string& sin_part(int p) {
  build(d_sin, p, p);
  cluster();
  return o_dndr;
}

const std::string& two_part(int a, int b, int sel) {
  if (sel == 0)
    build(d_ch, a, b);
  else
    build(d_eu, a, b);
  cluster();
  return o_dndr;
}

double synergic(const std::vector<int>& lab) { return synergic_impl(lab); }

stats& counters() { return o_stats; }

const std::string& dndr() { return o_dndr; }
const std::vector<int>& s_cid() { return o_s_cid; }
int n_samp() { return o_n_samp; }
int n_prob() { return o_n_prob; }
const std::vector<int>& labels() { return o_phe; }
const std::vector<std::string>& names() { return o_probe; }

std::string rank_list(const std::string& expr_path) {
  load(expr_path);
  std::vector<double> score(o_n_prob);
  std::vector<int> num(o_n_prob);
  std::vector<int> top(o_n_prob);
  for (int p = 0; p < o_n_prob; ++p) {
    score[p] = sin_syn_impl(p, o_ini_phe);
    num[p] = p;
    if (score[p] == o_no_part) {
      top[p] = 0;  // one cluster: the samples all merged
    } else {
      int mx = 0;
      for (int s = 0; s < o_n_samp; ++s)
        if (o_s_cid[s] > mx) mx = o_s_cid[s];
      top[p] = mx;
    }
  }
  for (int k = o_n_prob - 1; k >= 1; --k)
    for (int j = 0; j <= k - 1; ++j)
      if (score[j + 1] > score[j]) {
        std::swap(score[j], score[j + 1]);
        std::swap(num[j], num[j + 1]);
        std::swap(top[j], top[j + 1]);
      }
  std::string out;
  for (int r = 0; r < o_n_prob; ++r)
    out += o_probe[num[r]] + "\t" + std::to_string(num[r]) + "\t" + fmt(score[r]) + "\t" +
           std::to_string(top[r] + 1) + "\n";
  return out;
}

int optimize(int a, int b, int sel, opt_res& res) {
  std::vector<int> lab = o_ini_phe;
  double base = two_syn(a, b, o_ini_phe, sel);
  if (base == o_no_part) return -1;
  double cur = base;
  for (;;) {
    bool improved = false;
    double run_max = 0.0;
    int chosen = -1;
    // fallback when no improving flip scores above 0.0: the best improving one
    double fb_max = 0.0;
    int fb_i = -1;
    for (int i = 0; i < o_n_samp; ++i) {
      lab[i] = 1 - lab[i];
      double sc = two_syn(a, b, lab, sel);
      if (sc - cur > 0.01) {
        improved = true;
        if (sc > run_max) {
          run_max = sc;
          chosen = i;
        }
        if (fb_i < 0 || sc > fb_max) {
          fb_max = sc;
          fb_i = i;
        }
      }
      lab[i] = 1 - lab[i];
    }
    if (!improved) break;
    if (chosen < 0) {
      o_stats.fallback += 1;
      chosen = fb_i;
      run_max = fb_max;
    }
    lab[chosen] = 1 - lab[chosen];
    cur = run_max;
  }
  res.best = cur;
  res.lab = lab;
  res.cid = o_s_cid;
  return 1;
}

int optimize(int a, int b, int sel, std::string& rec) {
  rec.clear();
  opt_res r;
  if (optimize(a, b, sel, r) < 0) return -1;
  std::string l1 = o_probe[a] + "\t" + o_probe[b] + "\t" + fmt(r.best);
  for (int i = 0; i < o_n_samp; ++i) l1 += "\t" + std::to_string(r.lab[i]);
  std::string l2 = o_probe[a] + "\t" + o_probe[b] + "\t-9";
  for (int i = 0; i < o_n_samp; ++i) l2 += "\t" + std::to_string(r.cid[i]);
  rec = l1 + "\n" + l2 + "\n";
  return 1;
}

std::vector<int> candidates(const std::string& ranked_path) {
  std::vector<int> cand;
  std::ifstream in(ranked_path, std::ios::binary);
  if (!in) return cand;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = split_tabs(line);
    int num = f.size() > 1 ? std::atoi(f[1].c_str()) : 0;
    double score = f.size() > 2 ? std::atof(f[2].c_str()) : 0.0;
    if (score <= 0.97175) break;
    cand.push_back(num);
  }
  return cand;
}

search_out pair_search(const std::string& expr_path, const std::string& ranked_path, int start, int end) {
  load(expr_path);
  std::vector<int> cand = candidates(ranked_path);
  search_out out;
  int n = static_cast<int>(cand.size());
  if (n == 0) return out;
  for (int i = start; i < end; ++i)
    for (int j = 0; j < n; ++j) {
      std::string rec;
      optimize(cand.at(i), cand.at(j), 0, rec);
      out.records += rec;
      out.progress += std::to_string(i) + "\t" + std::to_string(j) + "\n";
    }
  return out;
}

}  // namespace oracle
