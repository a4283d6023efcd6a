// The report run: outputs checked against the inputs, everything loaded, the
// page and the two exports written whole.
#include <sys/stat.h>

#include <sstream>

#include "cli.h"
#include "report.h"
#include "svg.h"

namespace {

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
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
  if (d.has_sig)
    o += std::string(d.sig.has_src ? "p\tp_source\tp_log2err\t" : "p\t") +
         (d.sig.has_ps ? "q\tp_search\tpass\t" : "q\tpass\t");
  o += "joint_clusters\tflipped\tflipped_samples\tfirst_score\tsecond_score\n";
  for (size_t k = 0; k < d.all.size(); ++k) {
    const pair_row& r = d.all[k];
    o += std::to_string(k + 1) + "\t" + fld(disp(&d.an, r.pa, r.a)) + "\t" + fld(disp(&d.an, r.pb, r.b)) + "\t" +
         fld(r.a) + "\t" + fld(r.b) + "\t";
    const sig_row* s = d.has_sig ? &d.sig.rows[r.sig] : nullptr;
    if (s) o += s->base_txt + "\t";
    o += r.syn_txt + "\t";
    if (s) {
      o += s->p_txt + "\t";
      if (d.sig.has_src) o += s->src + "\t" + s->l2err_txt + "\t";
      o += s->q_txt + "\t";
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
  const std::pair<const char*, std::string> outs[] = {{"OUT.html", o.out}, {"--tsv", o.tsv}, {"--edges", o.edges}};
  for (const auto& w : outs)
    for (const auto& v : outs)
      if (&v < &w && !v.second.empty() && !w.second.empty() && (v.second == w.second || same_file(v.second, w.second)))
        return "outputs " + std::string(v.first) + " and " + w.first + " are the same file '" + w.second + "'";
  if (!o.edges.empty() && o.signif.empty()) return "--edges needs --signif: the edges are the pairs whose q is below --q";
  return "";
}

std::vector<std::string> run_report(const rep_opt& o) {
  std::vector<std::string> notes;
  const std::string bad = opt_error(o);
  if (!bad.empty()) throw syn_error(bad);
  std::vector<std::string> ins = {o.expr, o.ranked, o.records}, outs = {o.out};
  for (const std::string* f : {&o.signif, &o.null, &o.annot})
    if (!f->empty()) ins.push_back(*f);
  for (const std::string* f : {&o.tsv, &o.edges})
    if (!f->empty()) outs.push_back(*f);
  distinct_files(ins, outs);
  // every output checked before the work; an existing one is replaced only by a complete file
  std::vector<out_file> dst;
  for (const std::string& f : outs) dst.emplace_back(f);
  load_exp(o.expr.c_str());  // a fresh table; the record checks search a few pairs again
  const std::string scale = scale_why();
  if (!scale.empty()) notes.push_back(scale);
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
  in.command = o.command;
  in.top_n = o.top_n;
  in.q = o.q;
  in.bound = o.bound;
  in.names = d.names;
  in.rk = &d.rk;
  in.rs = &d.rs;
  in.d = &d;

  // every output complete before any is put in place
  std::vector<std::string> text;
  std::ostringstream page;
  write_page(page, in);
  text.push_back(page.str());
  if (!o.tsv.empty()) {
    std::ostringstream t;
    write_tsv(t, d, o.q);
    text.push_back(t.str());
  }
  if (!o.edges.empty()) {
    std::ostringstream t;
    write_edges(t, d, o.q);
    text.push_back(t.str());
  }
  write_outputs(dst, text);

  if (d.all.empty()) notes.push_back("no pair records in " + o.records + ": the page shows none");
  if (!o.edges.empty()) {
    long n_pass = 0;
    for (const sig_row& s : d.sig.rows) n_pass += s.q < o.q;
    if (n_pass == 0)
      notes.push_back("no pair has q below " + num(o.q) + ": " + o.edges + " holds only its header line");
  }
  return notes;
}
