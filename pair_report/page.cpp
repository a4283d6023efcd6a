// The report page: summary, top pairs, flipped samples, one plot per top pair.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "cli.h"
#include "report.h"
#include "sheet.h"
#include "svg.h"

namespace {

const int FLIP_SHOW = 25;  // flipped-sample rows shown before the fold

const char* const PAGE_CSS = R"(*{box-sizing:border-box}
body{margin:0;background:#f4f5f7;color:#1d2430;font:15px/1.5 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif}
main{max-width:1220px;margin:0 auto;padding:8px 24px 40px}
header{background:#1f3350;color:#fff;padding:18px 24px}
header h1{margin:0;font-size:24px;font-weight:600}
header p{margin:4px 0 0;color:#c9d4e5;font-size:13px;word-break:break-all}
h2{font-size:19px;margin:30px 0 10px;padding-bottom:4px;border-bottom:2px solid #d8dde6}
h3{font-size:16px;margin:0 0 6px}
p.note{max-width:900px;color:#3a4454}
.facts{display:grid;grid-template-columns:repeat(auto-fill,minmax(210px,1fr));gap:10px;margin:12px 0}
.fact{background:#fff;border:1px solid #dde2ea;border-radius:6px;padding:8px 12px}
.fact b{display:block;font-size:22px;font-weight:600;color:#1f3350}
.fact span{font-size:13px;color:#5a6475}
.figs{display:flex;flex-wrap:wrap;gap:16px}
figure{margin:0;background:#fff;border:1px solid #dde2ea;border-radius:6px;padding:8px}
figcaption{font-size:13px;color:#5a6475;max-width:560px;padding:4px 6px 0}
table{border-collapse:collapse;background:#fff;border:1px solid #dde2ea;font-size:14px}
th,td{padding:5px 10px;border-bottom:1px solid #e8ebf0;text-align:left;vertical-align:top}
th{background:#eef1f5;font-weight:600;white-space:nowrap}
td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
td.names{max-width:520px;font-size:13px}
td.probe{font-size:13px;word-break:break-word}
tr:hover td{background:#f7f9fc}
.hbar{display:inline-block;height:10px;background:#d55e00;opacity:.75;border-radius:2px;vertical-align:middle;margin-right:6px}
.flip{white-space:nowrap}
.l0t{color:#0072b2;font-weight:600}.l1t{color:#d55e00;font-weight:600}
details{margin-top:10px}
summary{cursor:pointer;color:#1f3350}
.pairs{display:flex;flex-direction:column;gap:18px}
.pair{display:flex;flex-wrap:wrap;gap:18px;background:#fff;border:1px solid #dde2ea;border-radius:6px;padding:14px}
.pair .info{flex:1;min-width:260px;font-size:14px}
.pair dl{display:grid;grid-template-columns:max-content 1fr;gap:3px 12px;margin:8px 0}
.pair dt{color:#5a6475}
.pair dd{margin:0}
.pair ul{margin:4px 0;padding-left:18px;max-height:300px;overflow:auto}
a{color:#1f5fa8}
nav.toc{position:sticky;top:0;z-index:2;background:#fff;border-bottom:1px solid #dde2ea;padding:6px 24px;font-size:14px}
nav.toc a{margin-right:18px;text-decoration:none}
h2[id],article[id]{scroll-margin-top:44px}
.nosig{background:#fff6e0;border:1px solid #e6c77a;border-radius:6px;padding:10px 14px;max-width:900px}
.nosig code,p.note code{background:#f1f1f1;padding:1px 4px;border-radius:3px;font-size:13px;word-break:break-all}
tr.pass td:first-child{box-shadow:inset 4px 0 #009e73}
.ok{color:#00805c;font-weight:700}
.hot{background:#d55e00;color:#fff;border-radius:3px;padding:0 5px;font-size:12px;white-space:nowrap}
td details{margin:0}
td summary{white-space:nowrap}
.gene{color:#5a6475;font-size:13px}
footer{color:#7a8494;font-size:12px;margin-top:30px}
)";

std::string i2s(long v) { return std::to_string(v); }

std::string lab_txt(int l) { return "<span class=\"l" + i2s(l) + "t\">" + i2s(l) + "</span>"; }

std::string fact(const std::string& big, const std::string& small) {
  return "<div class=\"fact\"><b>" + big + "</b><span>" + small + "</span></div>\n";
}

// A sample and the direction of its flip, e.g. "A12 1→0".
std::string flip_item(const page_in& in, const pair_rec& r, int k) {
  return "<span class=\"flip\">" + esc(in.names[k]) + " " + lab_txt(phe[k]) + "&#8594;" + lab_txt(r.lab[k]) +
         "</span>";
}

// -log10 p, with p = 0 (never written by a permutation count) kept finite
double mlog10(double p) { return -std::log10(std::max(p, 1e-300)); }

// The folded list of a pair's flipped samples.
std::string flip_cell(const page_in& in, const pair_rec& r) {
  std::vector<int> fl = flipped(r);
  if (fl.empty()) return "0";
  std::string o = "<details><summary>" + i2s(static_cast<long>(fl.size())) + " sample" +
                  (fl.size() == 1 ? "" : "s") + "</summary>";
  for (size_t j = 0; j < fl.size(); ++j) o += (j ? ", " : "") + flip_item(in, r, fl[j]);
  return o + "</details>";
}

// Where a pair's p comes from, with its error as a factor: "tail, ×/÷ 1.27".
std::string src_cell(const sig_row& s) {
  const std::string f = num(std::exp2(s.l2err), 3);
  if (s.src == "tail") return "tail, \u00d7/\u00f7 " + f;
  if (s.src == "floor") return "floor (at most)";
  return "perm, \u00d7/\u00f7 " + f;
}

// What every section of the page reads: the inputs and the counts made once.
struct page_ctx {
  const page_in& in;
  const rep_data& d;
  const rl_info& rk;
  const rec_sum& rs;
  const std::vector<pair_rec>& top;
  const annot* an = nullptr;  // gene names, or null
  bool sig = false;           // a significance table was given
  int n1 = 0;                 // samples labelled 1
  long n_dist = 0, n_cand = 0, n_pass = 0;
  std::string qs = "";           // the q threshold as the page writes it
  std::vector<double> syn = {};  // final synergies of the distinct pairs, sorted
  double best = 0;               // the best of them, 0 without records

  std::string name(int p, const std::string& nm) const { return disp(an, p, nm); }
  const sig_row* sig_of(const pair_rec& r) const {
    if (!sig) return nullptr;
    auto it = d.sig.at.find(pair_key(r.pa, r.pb));
    return it == d.sig.at.end() ? nullptr : &d.sig.rows[it->second];
  }
  bool has_null() const { return d.has_null && d.nul.n > 0; }
};

page_ctx make_ctx(const page_in& in, const rep_data& d) {
  page_ctx c{in, d, *in.rk, *in.rs, in.rs->top};
  c.an = d.has_annot ? &d.an : nullptr;
  c.sig = d.has_sig;
  c.n1 = static_cast<int>(std::count(phe.begin(), phe.end(), 1));
  c.n_dist = static_cast<long>(c.rs.syn.size());
  c.n_cand = c.rk.n_cand;
  for (const sig_row& s : d.sig.rows) c.n_pass += s.q < in.q;
  c.qs = num(in.q);
  c.syn = c.rs.syn;
  std::sort(c.syn.begin(), c.syn.end());
  if (!c.syn.empty()) c.best = c.syn.back();
  return c;
}

// The head of the document, the page's heading with its inputs, and the bar of links.
void sec_head(std::string& o, const page_ctx& c) {
  const page_in& in = c.in;
  o += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<meta name=\"viewport\" "
       "content=\"width=device-width, initial-scale=1\">\n<title>Pair report: " +
       esc(in.expr_path) + "</title>\n<style>\n" + PAGE_CSS + svg_css() + "</style>\n</head>\n<body>\n";
  o += "<header><h1>Synergistic probe pairs</h1><p>table " + esc(in.expr_path) + " &middot; ranked list " +
       esc(in.ranked_path) + " &middot; pair records " + esc(in.rec_path);
  if (c.sig) o += " &middot; significance " + esc(in.signif_path);
  if (!in.null_path.empty()) o += " &middot; search null " + esc(in.null_path);
  if (c.an) o += " &middot; gene names " + esc(in.annot_path);
  o += "</p></header>\n";
  o += "<nav class=\"toc\"><a href=\"#summary\">Summary</a><a href=\"#signif\">Significance</a><a "
       "href=\"#top\">Top pairs</a><a href=\"#flips\">Flipped samples</a><a "
       "href=\"#dist\">Distributions</a><a href=\"#plots\">Pair plots</a></nav>\n<main>\n";
}

// The facts at the top, the caution when the best synergy is untested, and what synergy means.
void sec_summary(std::string& o, const page_ctx& c) {
  const rep_data& d = c.d;
  o += "<h2 id=\"summary\">Summary</h2>\n<div class=\"facts\">\n";
  if (c.sig)
    o += fact(i2s(c.n_pass), "of " + i2s(static_cast<long>(d.sig.rows.size())) +
                                 " distinct pairs pass: q below " + c.qs +
                                 " (permutation p, false discovery rate q)");
  else
    o += fact("not computed", "significance: no p or q; see <a href=\"#signif\">how to get them</a>");
  o += fact(i2s(n_samp), "samples: " + esc(cls_count(c.n1, 1)) + ", " + esc(cls_count(n_samp - c.n1, 0)));
  o += fact(i2s(n_prob), "probes in the table; " + i2s(static_cast<long>(c.rk.rows.size())) +
                             " in the ranked list, " + i2s(c.rk.n_nopart) + " of them without a partition");
  o += fact(i2s(c.n_cand), "candidates: leading probes scoring above " + num(CAND_BOUND) +
                               "; a full search has " + i2s(c.n_cand * (c.n_cand + 1) / 2) +
                               " distinct pairs");
  o += fact(i2s(c.n_dist),
            "distinct pairs recorded, from " + i2s(c.rs.n_rec) + " records" +
                (c.rs.n_dup ? " (" + i2s(c.rs.n_dup) + " mirrors or repeats counted once)" : ""));
  if (c.n_dist > 0) {
    const std::vector<double>& v = c.syn;
    std::string against = "not tested against chance";
    if (c.has_null()) {
      // as pair_signif's p_search: searches whose best reached it, of all searches
      long k = 0;
      for (double b : d.nul.best_fin) k += b >= c.best;
      against = "p_search " + num((1.0 + k) / (1.0 + d.nul.n), 4) + " over " + i2s(d.nul.n) +
                " shuffled-label searches";
    }
    o += fact(num(v.back()), "best final synergy (bits), " + against + "; median " + num(v[v.size() / 2], 4) +
                                 ", lowest " + num(v.front(), 4));
  }
  o += "</div>\n";
  if (c.n_dist > 0 && !c.has_null())
    o += "<p class=\"note\"><b>Caution:</b> no search null was given, so the best final synergy is not "
         "tested against chance. The flip search raises the synergy of random labels too: on the bundled "
         "example of 500 ALL probes, 8 of 20 searches with shuffled labels reach the real best, 0.96947. Run "
         "shuffled-label searches (<code>--shuffle-labels</code>, then <code>pair_signif --null-line</code>, "
         "or the workflow&#8217;s <code>permutations</code>) and give their lines with "
         "<code>--search-null</code>.</p>\n";
  o += "<p class=\"note\">For each pair, the <em>synergy</em> is how much more the joint clustering of the "
       "samples by both probes tells about the 0/1 labels than the two probes&#8217; own clusterings do, in "
       "bits. The <em>base synergy</em> is that with the table&#8217;s labels. Starting from them, the "
       "search flipped one sample&#8217;s label at a time while a flip raised the synergy by more than " +
       num(IMP_MARGIN) +
       "; the <em>final synergy</em> and the <em>flipped samples</em> are those at its end. A sample flipped "
       "in many pairs is worth checking for a wrong label.</p>\n";
}

// The volcano's words on where its p-values come from.
std::string src_caption(const rep_data& d) {
  if (!d.sig.has_src) return "";
  long n[3] = {0, 0, 0};
  double worst = 0;
  for (const sig_row& s : d.sig.rows) {
    const int k = s.src == "tail" ? 1 : s.src == "floor" ? 2 : 0;
    ++n[k];
    if (k == 1) worst = std::max(worst, s.l2err);
  }
  std::string o = " p comes from the label shufflings for " + i2s(n[0]) + " pair" + (n[0] == 1 ? "" : "s");
  if (n[1])
    o += ", from the tail estimate (multilevel splitting) for " + i2s(n[1]) +
         ", each within a factor of at most " + num(std::exp2(worst), 3) + " (one standard deviation)";
  if (n[2])
    o += "; " + i2s(n[2]) +
         " reached the estimate&#8217;s floor and are drawn at it (their p is at most that)";
  return o + ".";
}

// The best final synergies of the shuffled-label searches, the real best marked.
hist_in null_hist(const page_ctx& c) {
  hist_in h;
  h.v = c.d.nul.best_fin;
  h.x_lab = "best final synergy of a search (bits)";
  h.y_lab = "searches";
  h.label = "best final synergy of the shuffled-label searches";
  if (c.n_dist > 0) h.marks.emplace_back(c.best, "real search: " + num(c.best));
  return h;
}

// Base synergy against -log10 p of every distinct pair, the top pairs ringed.
std::string volcano_fig(const page_ctx& c) {
  const rep_data& d = c.d;
  const std::vector<pair_rec>& top = c.top;
  volc_in v;
  double pcut = -1;
  v.x.reserve(d.sig.rows.size());
  for (const pair_row& r : d.all) {
    const sig_row& s = d.sig.rows[r.sig];
    v.x.push_back(s.base);
    v.y.push_back(mlog10(s.p));
    v.pass.push_back(s.q < c.in.q);
    if (s.q < c.in.q) pcut = std::max(pcut, s.p);
  }
  if (pcut >= 0) {
    v.has_thr = true;
    v.thr_y = mlog10(pcut);
    v.thr_lab = "q < " + c.qs;
  }
  for (size_t t = 0; t < top.size(); ++t) {
    const sig_row* s = c.sig_of(top[t]);
    if (!s) continue;
    // numbers beyond the tenth would hide each other
    v.top.push_back({s->base, mlog10(s->p), t < 10 ? i2s(static_cast<long>(t + 1)) : std::string(),
                     "#" + i2s(static_cast<long>(t + 1)) + " " + c.name(top[t].pa, top[t].a) + " × " +
                         c.name(top[t].pb, top[t].b) + "\nbase " + s->base_txt + ", p " + s->p_txt + ", q " +
                         s->q_txt});
  }
  v.x_lab = "base synergy (bits, table labels)";
  v.y_lab = "-log10 p";
  v.label = "base synergy against -log10 p of every distinct pair";
  std::string o = svg_volcano(v);
  o += "<figcaption>All " + i2s(static_cast<long>(v.x.size())) +
       " distinct pairs: base synergy against -log10 p" +
       (v.x.size() > PTS_MAX
            ? " (shaded cells of 4 by 4 pixels, darker for more pairs: too many pairs to draw one by one)"
            : "") +
       ". " +
       (v.has_thr ? "Pairs above the dashed line (p at most " + num(pcut) + ") have q below " + c.qs + "."
                  : "No pair has q below " + c.qs + ".") +
       " The top pairs are ringed, the first ten numbered as in the table." + src_caption(d) +
       "</figcaption>";
  return o;
}

// The significance section: how to get it, or the volcano and the search null.
void sec_signif(std::string& o, const page_ctx& c) {
  const page_in& in = c.in;
  const rep_data& d = c.d;
  o += "<h2 id=\"signif\">Significance</h2>\n";
  if (!c.sig) {
    o += "<div class=\"nosig\"><p><b>No significance was computed.</b> The synergies on this page are not "
         "tested against chance: a high final synergy can come from the label flips alone. To get a "
         "permutation p and a false discovery rate q for every pair, run</p><p><code>" +
         esc("pair_signif " +
             std::string(in.bound == CAND_BOUND ? "" : "--bound " + num_text(in.bound) + " ") +
             sh_word(in.expr_path) + " " + sh_word(in.ranked_path) + " " + sh_word(in.rec_path) +
             " signif.tsv") +
         "</code></p><p>and write the page again with <code>--signif signif.tsv</code>.</p></div>\n";
  } else {
    o += std::string(
             "<p class=\"note\">The <em>p</em> of a pair is the share of label shufflings under which its "
             "base synergy reached the real one") +
         (d.sig.has_src
              ? " (<em>perm</em>), or, for pairs too strong for the shufflings to resolve, an estimate of "
                "that share by multilevel splitting over the labellings (<em>tail</em>; <em>floor</em>: at "
                "most this)"
              : "") +
         "; <em>q</em> controls the false discovery rate over all " +
         i2s(static_cast<long>(d.sig.rows.size())) + " pairs. " + i2s(c.n_pass) + " pair" +
         (c.n_pass == 1 ? "" : "s") + " have q below " + c.qs + ".";
    if (d.sig.has_ps)
      o += " <em>p_search</em> is the share of shuffled-label searches whose best pair reached this "
           "pair&#8217;s final synergy: it accounts for the whole search.";
    o += "</p>\n<div class=\"figs\">\n<figure>";
    o += volcano_fig(c);
    o += "</figure>\n";
    if (d.has_null) {
      o += "<figure>";
      const hist_in h = null_hist(c);
      o += svg_hist(h);
      long reach = std::count_if(h.v.begin(), h.v.end(), [&](double x) { return x >= c.best; });
      o +=
          "<figcaption>Best final synergy of each of the " + i2s(d.nul.n) + " searches with shuffled labels" +
          (d.nul.n_na ? " (" + i2s(d.nul.n_na) + " of them recorded no pair and are not drawn)" : "") + "; " +
          i2s(reach) + " reached the real search&#8217;s best, " + num(c.best) + ".</figcaption></figure>\n";
    } else if (d.sig.has_ps) {
      o += "<p class=\"note\">Give the search-null file with <code>--search-null</code> to see the "
           "distribution behind p_search.</p>\n";
    }
    o += "</div>\n";
  }
  if (!c.sig && d.has_null) {
    o += "<div class=\"figs\"><figure>";
    o += svg_hist(null_hist(c));
    o += "<figcaption>Best final synergy of each of the " + i2s(d.nul.n) +
         " searches with shuffled labels.</figcaption></figure></div>\n";
  }
}

// The table of the top pairs, each row linking to its card.
void sec_top(std::string& o, const page_ctx& c) {
  const rep_data& d = c.d;
  const std::vector<pair_rec>& top = c.top;
  const bool sig = c.sig;
  const std::string& qs = c.qs;
  o += "<h2 id=\"top\">Top " + i2s(static_cast<long>(top.size())) + " pairs by " +
       (sig ? "q, then base synergy" : "final synergy") + "</h2>\n";
  if (top.empty()) {
    o += "<p class=\"note\">No pair records to show.</p>\n";
    return;
  }
  o += "<p class=\"note\">" +
       std::string(sig ? "Pairs with q below " + qs + " are marked &#10003;. "
                       : "Equal synergies keep the order of the record file. ") +
       "A pair and its mirror are listed once. Flips show the label in the table &#8594; the label at the "
       "end of the search.</p>\n";
  o += "<table>\n<tr><th>#</th><th>first probe (x)</th><th>second probe (y)</th>";
  if (sig) o += "<th>base synergy</th>";
  o += "<th>final synergy</th>";
  if (sig)
    o += std::string("<th>p</th>") + (d.sig.has_src ? "<th>p from</th>" : "") + "<th>q</th>" +
         (d.sig.has_ps ? "<th>p_search</th>" : "") + "<th>q &lt; " + qs + "</th>";
  o += "<th>joint clusters</th><th>flipped samples</th></tr>\n";
  for (size_t t = 0; t < top.size(); ++t) {
    const pair_rec& r = top[t];
    const sig_row* s = c.sig_of(r);
    const bool pass = s && s->q < c.in.q;
    std::string id = "pair-" + i2s(static_cast<long>(t + 1));
    o += std::string(pass ? "<tr class=\"pass\">" : "<tr>") + "<td class=\"n\"><a href=\"#" + id + "\">" +
         i2s(static_cast<long>(t + 1)) + "</a></td><td class=\"probe\">" + esc(c.name(r.pa, r.a)) +
         "</td><td class=\"probe\">" + esc(c.name(r.pb, r.b)) + "</td>";
    if (s) o += "<td class=\"n\">" + esc(s->base_txt) + "</td>";
    o += "<td class=\"n\">" + esc(r.syn_txt) + "</td>";
    if (s) {
      o += "<td class=\"n\">" + esc(s->p_txt) + "</td>";
      if (d.sig.has_src) o += "<td>" + esc(src_cell(*s)) + "</td>";
      o += "<td class=\"n\">" + esc(s->q_txt) + "</td>";
      if (d.sig.has_ps) o += "<td class=\"n\">" + esc(s->ps_txt) + "</td>";
      o += std::string("<td>") + (pass ? "<span class=\"ok\">&#10003;</span>" : "") + "</td>";
    }
    o += "<td class=\"n\">" + i2s(r.n_cl) + "</td><td class=\"names\">" + flip_cell(c.in, r) + "</td></tr>\n";
  }
  o += "</table>\n";
}

// Samples ranked by how often the search flipped them, the outliers marked.
void sec_flips(std::string& o, const page_ctx& c) {
  const page_in& in = c.in;
  const rec_sum& rs = c.rs;
  const long n_dist = c.n_dist;
  std::vector<int> fr = flip_rank(rs);
  std::vector<long> in_top(n_samp, 0);
  for (const pair_rec& r : c.top)
    for (int k : flipped(r)) ++in_top[k];
  o += "<h2 id=\"flips\">Samples by how often the search flipped them</h2>\n";
  if (fr.empty()) {
    o += "<p class=\"note\">No record flipped any label.</p>\n";
    return;
  }
  const flip_test ft = test_flips(rs);
  const std::vector<double>& padj = ft.padj;
  const long n_hot = ft.n_hot;
  o += "<p class=\"note\">" + i2s(static_cast<long>(fr.size())) + " of " + i2s(n_samp) +
       " samples were flipped in at least one of the " + i2s(n_dist) +
       " distinct pairs (a pair and its mirror count once); all samples together were flipped in " +
       num(100.0 * ft.rate, 3) +
       "% of the pairs on average. <span class=\"hot\">far above chance</span> marks a sample flipped in at "
       "least " +
       num(FLIP_FOLD) +
       " times that share of pairs, and more often than that rate would give by chance: the upper tail of a "
       "binomial over the " +
       i2s(n_dist) + " pairs at the average rate, times " + i2s(n_samp) +
       " for the samples tested (Bonferroni), below " + num(FLIP_ALPHA) + ". " +
       (n_hot ? i2s(n_hot) + (n_hot == 1 ? " sample is" : " samples are") + " marked."
              : "No sample stands out: the flips are spread over the samples.") +
       " Pairs share probes, so they are not independent trials: take the mark as a pointer to samples worth "
       "checking, not as a test result.</p>\n";
  const long most = rs.n_flip[fr[0]];
  auto head = [&]() {
    return std::string(
               "<table>\n<tr><th>sample</th><th>sample number</th><th>label in table</th><th>flipped in "
               "pairs</th><th>share of pairs</th><th>tail p (Bonferroni)</th><th>in top ") +
           i2s(static_cast<long>(c.top.size())) + "</th></tr>\n";
  };
  auto row = [&](int k) {
    long n = rs.n_flip[k];
    double w = 120.0 * static_cast<double>(n) / static_cast<double>(most);
    bool hot = ft.hot[k] != 0;
    return "<tr><td class=\"probe\">" + esc(in.names[k]) +
           (hot ? " <span class=\"hot\">far above chance</span>" : "") + "</td><td class=\"n\">" + i2s(k) +
           "</td><td class=\"n\">" + lab_txt(phe[k]) +
           "</td><td><span class=\"hbar\" style=\"width:" + num(std::max(w, 1.0), 4) + "px\"></span>" +
           i2s(n) + "</td><td class=\"n\">" +
           num(100.0 * static_cast<double>(n) / static_cast<double>(n_dist), 3) + "%</td><td class=\"n\">" +
           num(padj[k], 3) + "</td><td class=\"n\">" + i2s(in_top[k]) + "</td></tr>\n";
  };
  o += head();
  for (size_t j = 0; j < fr.size() && j < static_cast<size_t>(FLIP_SHOW); ++j) o += row(fr[j]);
  o += "</table>\n";
  if (fr.size() > static_cast<size_t>(FLIP_SHOW)) {
    o += "<details><summary>the other " + i2s(static_cast<long>(fr.size()) - FLIP_SHOW) +
         " flipped samples</summary>\n" + head();
    for (size_t j = FLIP_SHOW; j < fr.size(); ++j) o += row(fr[j]);
    o += "</table>\n</details>\n";
  }
}

// Histograms of the final synergies and of the single-probe scores.
void sec_dists(std::string& o, const page_ctx& c) {
  const rec_sum& rs = c.rs;
  o += "<h2 id=\"dist\">Distributions</h2>\n";
  o += "<div class=\"figs\">\n<figure>";
  {
    hist_in h;
    h.v = rs.syn;
    h.x_lab = "final synergy (bits)";
    h.y_lab = "pairs";
    h.label = "histogram of final synergies";
    if (!c.sig && !rs.top.empty() && c.n_dist > static_cast<long>(rs.top.size()))
      h.marks.emplace_back(rs.top.back().syn, "top " + i2s(static_cast<long>(rs.top.size())));
    o += svg_hist(h);
    o += "<figcaption>Final synergy of the " + i2s(c.n_dist) + " distinct pairs recorded.</figcaption>";
  }
  o += "</figure>\n<figure>";
  {
    hist_in h;
    for (const rl_row& r : c.rk.rows)
      if (r.score != NO_PART) h.v.push_back(r.score);
    h.x_lab = "single-probe score (bits of label entropy left)";
    h.y_lab = "probes";
    h.label = "histogram of single-probe scores";
    h.has_split = true;
    h.split = CAND_BOUND;
    h.lo_lab = "at or below the bound";
    h.hi_lab = "above the bound";
    h.marks.emplace_back(CAND_BOUND, "candidate bound " + num(CAND_BOUND));
    o += svg_hist(h);
    o += "<figcaption>Single-probe scores of the " + i2s(static_cast<long>(h.v.size())) +
         " ranked probes with a partition. Probes above the bound say almost nothing about the labels alone; "
         "the leading ones are the pair candidates.</figcaption>";
  }
  o += "</figure>\n</div>\n";
}

// The card of top pair t: its scatter plot, figures, probes and flipped samples.
// n_named counts the table's rows of each probe name.
std::string pair_card(const page_ctx& c, size_t t, const std::unordered_map<std::string, int>& n_named) {
  const page_in& in = c.in;
  const pair_rec& r = c.top[t];
  const sig_row* sg = c.sig_of(r);
  std::string id = "pair-" + i2s(static_cast<long>(t + 1));
  const std::string na = c.name(r.pa, r.a), nb = c.name(r.pb, r.b);
  scat_in s;
  s.x = &expr[r.pa];
  s.y = &expr[r.pb];
  s.lab = &phe;
  s.fin = &r.lab;
  s.cid = &r.cid;
  s.names = &in.names;
  s.n = n_samp;
  s.x_lab = na;
  s.y_lab = nb;
  s.label = "pair " + i2s(static_cast<long>(t + 1)) + ": " + na + " and " + nb;
  std::string o = "<article class=\"pair\" id=\"" + id + "\">\n" + svg_scatter(s);
  o += "<div class=\"info\"><h3>#" + i2s(static_cast<long>(t + 1)) + " &nbsp;" + esc(na) + " &times; " +
       esc(nb) + "</h3>\n<dl>";
  if (sg) {
    o += "<dt>base synergy</dt><dd>" + esc(sg->base_txt) + " bits (table labels)</dd>";
    o += "<dt>final synergy</dt><dd>" + esc(r.syn_txt) + " bits</dd>";
    o += "<dt>p, q</dt><dd>" + esc(sg->p_txt) + ", " + esc(sg->q_txt) +
         (sg->q < in.q ? " <span class=\"ok\">&#10003; q &lt; " + c.qs + "</span>" : std::string()) + "</dd>";
    if (c.d.sig.has_src) o += "<dt>p from</dt><dd>" + esc(src_cell(*sg)) + "</dd>";
    if (c.d.sig.has_ps) o += "<dt>p_search</dt><dd>" + esc(sg->ps_txt) + "</dd>";
    o += "<dt>shufflings</dt><dd>" + i2s(sg->perms) + " drawn, " + i2s(sg->adm) + " admissible, " +
         i2s(sg->hits) + " reached the base synergy</dd>";
  } else {
    o += "<dt>final synergy</dt><dd>" + esc(r.syn_txt) + " bits</dd>";
  }
  std::vector<int> size(n_samp, 0);
  for (int k : r.cid) ++size[k];
  long multi = std::count_if(size.begin(), size.end(), [](int m) { return m > 1; });
  o += "<dt>joint clusters</dt><dd>" + i2s(r.n_cl) + " (" + i2s(multi) + " of two or more samples)</dd>";
  for (int side = 0; side < 2; ++side) {
    int p = side ? r.pb : r.pa;
    int pos = c.rk.pos[p];
    o += "<dt>" + std::string(side ? "y: " : "x: ") + esc(side ? nb : na) + "</dt><dd>";
    if (c.an && !c.an->desc[p].empty()) o += "<span class=\"gene\">" + esc(c.an->desc[p]) + "</span><br>";
    if (pos < 0)
      o += "not in the ranked list";
    else
      o += "single-probe score " + num(c.rk.rows[pos].score) + ", rank " + i2s(pos + 1) + ", " +
           i2s(c.rk.rows[pos].n_cl) + " clusters alone";
    auto it = n_named.find(side ? r.b : r.a);
    int dup = it == n_named.end() ? 0 : it->second;
    if (dup > 1) o += "; the table has " + i2s(dup) + " rows of this name, the first one is plotted";
    o += "</dd>";
  }
  o += "<dt>record</dt><dd>line " + i2s(r.line) + " of " + esc(in.rec_path) + "</dd></dl>\n";
  std::vector<int> fl = flipped(r);
  if (fl.empty()) {
    o += "<p>No label flipped: the table&#8217;s labels give the best synergy.</p>";
  } else {
    o += "<details><summary><b>" + i2s(static_cast<long>(fl.size())) + " flipped sample" +
         (fl.size() == 1 ? "" : "s") + "</b> (table &#8594; search)</summary><ul>";
    for (int k : fl) o += "<li>" + flip_item(in, r, k) + " <small>cluster " + i2s(r.cid[k]) + "</small></li>";
    o += "</ul></details>";
  }
  o += "<p><a href=\"#top\">back to the table</a></p></div>\n</article>\n";
  return o;
}

// The pair plots: the page so far and then one card at a time go to os, so
// the page is never held whole.
void sec_plots(std::ostream& os, std::string& o, const page_ctx& c) {
  // names are not unique in every table; records name probes, so the first row is plotted
  std::unordered_map<std::string, int> n_named;
  for (const std::string& p : probe) ++n_named[p];
  o += "<h2 id=\"plots\">Pair plots</h2>\n";
  if (c.top.empty())
    o += "<p class=\"note\">No pair records to plot.</p>\n";
  else
    o += "<p class=\"note\">One point per sample at the two probes&#8217; expression values, coloured by the "
         "label in the table. Ringed points are the samples the search flipped. Samples of one joint cluster "
         "share a shaded hull (clusters near each other in different colours); a point without a hull is a "
         "cluster of its own. Hover over a point for its sample name, label and cluster.</p>\n";
  os << o;
  o.clear();
  o += "<div class=\"pairs\">\n";
  for (size_t t = 0; t < c.top.size(); ++t) {
    o += pair_card(c, t, n_named);
    os << o;
    o.clear();
  }
}

}  // namespace

void write_page(std::ostream& os, const page_in& in) {
  static const rep_data none;
  const page_ctx c = make_ctx(in, in.d ? *in.d : none);
  std::string o;
  sec_head(o, c);
  sec_summary(o, c);
  sec_signif(o, c);
  sec_top(o, c);
  sec_flips(o, c);
  sec_dists(o, c);
  sec_plots(os, o, c);
  o += "</div>\n<footer>Written by pair_report " + esc(in.version) + ": <code>" + esc(in.command) +
       "</code>; candidate bound " + num(CAND_BOUND) +
       (c.sig ? "; significance from " + esc(in.signif_path) : "") +
       ". Self-contained page: no scripts, no external resources.</footer>\n</main>\n</body>\n</html>\n";
  os << o;
}
