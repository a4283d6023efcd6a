// The report run: outputs checked against the inputs, everything loaded, the
// page and the two exports written whole.
#include <sstream>

#include "cli.h"
#include "exports.h"
#include "files.h"
#include "report.h"
#include "svg.h"

namespace {

std::string score_of(const rep_data& d, int p) {
  int pos = d.rk.pos[p];
  return pos < 0 ? std::string("NA") : num(d.rk.rows[pos].score);
}

// One cell of the --tsv line of pair r at 1-based place `rank`.
std::string tsv_cell(const rep_data& d, const pair_row& r, size_t rank, double q, int c) {
  const sig_row* s = d.has_sig ? &d.sig.rows[r.sig] : nullptr;
  switch (c) {
    case TC_RANK: return std::to_string(rank);
    case TC_FIRST: return tsv_field(disp(&d.an, r.pa, r.a));
    case TC_SECOND: return tsv_field(disp(&d.an, r.pb, r.b));
    case TC_FIRST_PROBE: return tsv_field(r.a);
    case TC_SECOND_PROBE: return tsv_field(r.b);
    case TC_BASE: return s->base_txt;
    case TC_FINAL: return r.syn_txt;
    case TC_P: return s->p_txt;
    case TC_P_SOURCE: return s->src;
    case TC_P_LOG2ERR: return s->l2err_txt;
    case TC_Q: return s->q_txt;
    case TC_P_SEARCH: return s->ps_txt;
    case TC_PASS: return s->q < q ? "1" : "0";
    case TC_JOINT: return std::to_string(r.n_cl);
    case TC_FLIPPED: return std::to_string(r.fl.size());
    case TC_FLIPPED_SAMPLES: {
      std::string names;
      for (size_t j = 0; j < r.fl.size(); ++j) names += (j ? "," : "") + d.names[r.fl[j]];
      return tsv_field(names);
    }
    case TC_FIRST_SCORE: return score_of(d, r.pa);
    default: return score_of(d, r.pb);
  }
}

}  // namespace

void write_tsv(std::ostream& os, const rep_data& d, double q, const prov& pv) {
  const std::vector<int> cols = tsv_cols(d.has_sig, d.sig.has_src, d.sig.has_ps);
  std::string o = prov_text(pv) + head_line(tsv_names(d.has_sig, d.sig.has_src, d.sig.has_ps));
  for (size_t k = 0; k < d.all.size(); ++k) {
    for (size_t c = 0; c < cols.size(); ++c) o += (c ? "\t" : "") + tsv_cell(d, d.all[k], k + 1, q, cols[c]);
    o += '\n';
    if (o.size() > (1 << 16)) {
      os << o;
      o.clear();
    }
  }
  os << o;
}

void write_edges(std::ostream& os, const rep_data& d, double q, const prov& pv) {
  std::string o = prov_text(pv) + head_line(edge_names());
  for (const pair_row& r : d.all) {
    const sig_row& s = d.sig.rows[r.sig];
    if (!(s.q < q)) continue;
    o += tsv_field(disp(&d.an, r.pa, r.a)) + "\t" + tsv_field(disp(&d.an, r.pb, r.b)) + "\t" + s.base_txt + "\t" +
         r.syn_txt + "\t" + s.q_txt + "\n";
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
  const prov pv = {o.version.empty() ? "" : "pair_report " + o.version, o.command, {{"bound", num(o.bound)}, {"q", num(o.q)}}};
  std::vector<std::string> text;
  std::ostringstream page;
  write_page(page, in);
  text.push_back(page.str());
  if (!o.tsv.empty()) {
    std::ostringstream t;
    write_tsv(t, d, o.q, pv);
    text.push_back(t.str());
  }
  if (!o.edges.empty()) {
    std::ostringstream t;
    write_edges(t, d, o.q, pv);
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
