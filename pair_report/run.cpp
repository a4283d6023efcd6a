// The report run: outputs checked against the inputs, everything loaded, the
// page and the two exports written whole.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>

#include "report.h"
#include "svg.h"

namespace {

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A temporary file beside `out`, removed unless it was renamed into place.
struct tmp_file {
  std::string out, path;
  bool kept = false;
  tmp_file() = default;
  tmp_file(const tmp_file&) = delete;
  tmp_file& operator=(const tmp_file&) = delete;
  ~tmp_file() {
    if (!path.empty() && !kept) std::remove(path.c_str());
  }
};

void write_tmp(tmp_file& t, const std::string& out, const std::function<void(std::ostream&)>& fill) {
  t.out = out;
  std::vector<char> name(out.begin(), out.end());
  const char suffix[] = ".tmpXXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);
  int fd = mkstemp(name.data());
  if (fd < 0) throw syn_error(out + ": cannot write: " + std::strerror(errno));
  t.path = name.data();
  close(fd);
  // mkstemp makes the file private; a page or a table is an ordinary file
  mode_t um = umask(0);
  umask(um);
  chmod(t.path.c_str(), 0666 & ~um);
  std::ofstream os(t.path, std::ios::binary | std::ios::trunc);
  if (!os) throw syn_error(out + ": cannot write: " + std::strerror(errno));
  fill(os);
  os.flush();
  if (!os) throw syn_error(out + ": write error: " + std::strerror(errno));
  os.close();
  if (os.fail()) throw syn_error(out + ": write error: " + std::strerror(errno));
}

// A field for a tab-separated table that R's read.delim and Python's csv
// module read back as written: one with a double quote is quoted, inner
// quotes doubled (tabs and newlines cannot occur: every name came from a
// tab-separated line).
std::string fld(const std::string& s) {
  if (s.find('"') == std::string::npos) return s;
  std::string o = "\"";
  for (char c : s) o += c == '"' ? std::string("\"\"") : std::string(1, c);
  return o + "\"";
}

std::string score_of(const rep_data& d, int p) {
  int pos = d.rk.pos[p];
  return pos < 0 ? std::string("NA") : num(d.rk.rows[pos].score);
}

}  // namespace

void write_tsv(std::ostream& os, const rep_data& d, double q) {
  std::string o = "rank\tfirst\tsecond\tfirst_probe\tsecond_probe\t";
  if (d.has_sig) o += "base\t";
  o += "final\t";
  if (d.has_sig) o += d.sig.has_ps ? "p\tq\tp_search\tpass\t" : "p\tq\tpass\t";
  o += "joint_clusters\tflipped\tflipped_samples\tfirst_score\tsecond_score\n";
  for (size_t k = 0; k < d.all.size(); ++k) {
    const pair_row& r = d.all[k];
    o += std::to_string(k + 1) + "\t" + fld(disp(&d.an, r.pa, r.a)) + "\t" + fld(disp(&d.an, r.pb, r.b)) + "\t" +
         fld(r.a) + "\t" + fld(r.b) + "\t";
    const sig_row* s = d.has_sig ? &d.sig.rows[r.sig] : nullptr;
    if (s) o += s->base_txt + "\t";
    o += r.syn_txt + "\t";
    if (s) {
      o += s->p_txt + "\t" + s->q_txt + "\t";
      if (d.sig.has_ps) o += s->ps_txt + "\t";
      o += s->q < q ? "1\t" : "0\t";
    }
    o += std::to_string(r.n_cl) + "\t" + std::to_string(r.fl.size()) + "\t";
    std::string names;
    for (size_t j = 0; j < r.fl.size(); ++j) names += (j ? "," : "") + d.names[r.fl[j]];
    o += fld(names) + "\t" + score_of(d, r.pa) + "\t" + score_of(d, r.pb) + "\n";
    if (o.size() > (1 << 16)) {
      os << o;
      o.clear();
    }
  }
  os << o;
}

void write_edges(std::ostream& os, const rep_data& d, double q) {
  std::string o = "source\ttarget\tbase\tfinal\tq\n";
  for (const pair_row& r : d.all) {
    const sig_row& s = d.sig.rows[r.sig];
    if (!(s.q < q)) continue;
    o += fld(disp(&d.an, r.pa, r.a)) + "\t" + fld(disp(&d.an, r.pb, r.b)) + "\t" + s.base_txt + "\t" + r.syn_txt + "\t" +
         s.q_txt + "\n";
  }
  os << o;
}

std::string opt_error(const rep_opt& o) {
  const std::pair<const char*, std::string> ins[] = {{"EXPR", o.expr},      {"RANKED", o.ranked},
                                                     {"RECORDS", o.records}, {"--signif", o.signif},
                                                     {"--search-null", o.null}, {"--annot", o.annot}};
  const std::pair<const char*, std::string> outs[] = {{"OUT.html", o.out}, {"--tsv", o.tsv}, {"--edges", o.edges}};
  for (const auto& w : outs) {
    if (w.second.empty()) continue;
    for (const auto& i : ins)
      if (!i.second.empty() && (w.second == i.second || same_file(w.second, i.second)))
        return "output '" + w.second + "' (" + w.first + ") is the input '" + i.second + "' (" + i.first +
               "); choose another name";
    for (const auto& v : outs)
      if (&v < &w && !v.second.empty() && (v.second == w.second || same_file(v.second, w.second)))
        return "outputs " + std::string(v.first) + " and " + w.first + " are the same file '" + w.second + "'";
  }
  if (!o.edges.empty() && o.signif.empty()) return "--edges needs --signif: the edges are the pairs whose q is below --q";
  return "";
}

std::vector<std::string> run_report(const rep_opt& o) {
  std::vector<std::string> notes;
  const std::string bad = opt_error(o);
  if (!bad.empty()) throw syn_error(bad);
  reset_exp();  // a fresh table, whatever was loaded before
  read_exp(o.expr.c_str());
  check_exp(o.expr.c_str());
  rep_data d;
  load_report(o, d);

  page_in in;
  in.expr_path = o.expr;
  in.ranked_path = o.ranked;
  in.rec_path = o.records;
  in.signif_path = o.signif;
  in.null_path = o.null;
  in.annot_path = o.annot;
  in.version = o.version;
  in.top_n = o.top_n;
  in.q = o.q;
  in.names = d.names;
  in.rk = &d.rk;
  in.rs = &d.rs;
  in.d = &d;

  // every output complete before any is renamed into place
  tmp_file t_page, t_tsv, t_edges;
  write_tmp(t_page, o.out, [&](std::ostream& os) { write_page(os, in); });
  if (!o.tsv.empty()) write_tmp(t_tsv, o.tsv, [&](std::ostream& os) { write_tsv(os, d, o.q); });
  if (!o.edges.empty()) write_tmp(t_edges, o.edges, [&](std::ostream& os) { write_edges(os, d, o.q); });
  for (tmp_file* t : {&t_page, &t_tsv, &t_edges}) {
    if (t->path.empty()) continue;
    if (std::rename(t->path.c_str(), t->out.c_str()) != 0)
      throw syn_error(t->out + ": cannot write: " + std::strerror(errno));
    t->kept = true;
  }

  if (d.all.empty()) notes.push_back("no pair records in " + o.records + ": the page shows none");
  if (!o.edges.empty()) {
    long n_pass = 0;
    for (const sig_row& s : d.sig.rows) n_pass += s.q < o.q;
    if (n_pass == 0)
      notes.push_back("no pair has q below " + num(o.q) + ": " + o.edges + " holds only its header line");
  }
  return notes;
}
