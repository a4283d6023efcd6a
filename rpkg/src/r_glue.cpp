// r_glue.cpp: the package's entry points, thin layers over the analysis core,
// the programs' own routines (rank_probes, run_search, sig_run, run_report)
// and the file layer (io.h: every file read and written by its one reader and
// writer), so that R gets the programs' results and files. Options are
// checked, and take their defaults, by the engines' rules (eng_opt.h).
//
// Every entry point loads its table afresh and frees it on the way out. Worker
// threads run core code only; the R API (interrupt checks included) is called
// from the calling thread alone, in the ordered emit callbacks.
#include <Rcpp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "eng_opt.h"
#include "io.h"
#include "line_src.h"
#include "rank.h"
#include "report.h"
#include "search.h"
#include "sheet.h"
#include "sig.h"
#include "synergy.h"

namespace {

// Frees the loaded table when an entry point returns or fails.
struct state_guard {
  ~state_guard() { reset_exp(); }
};

// An R error whose message is the one line alone (no call), as the programs print it.
[[noreturn]] void fail(const std::string& msg) { throw Rcpp::exception(msg.c_str(), false); }

// The -t rule (threads_check), 0 meaning every core.
int thread_count(double t) {
  const std::string why = threads_check(t);
  if (!why.empty()) fail("threads: " + why);
  return t == 0 ? all_cores() : static_cast<int>(t);
}

// Called after every item on the calling thread: a pending interrupt from the
// console becomes a C++ exception, which par_ordered rethrows only after its
// threads have stopped, and which Rcpp turns back into the R interrupt. The
// programs' progress display runs too (only when stderr is a terminal).
std::function<void(long)> between_items(meter& show) {
  return [&show](long done) {
    Rcpp::checkUserInterrupt();
    show(done);
  };
}

void load(const Rcpp::NumericMatrix& x, const std::vector<std::string>& names,
          const std::vector<int>& labels) {
  load_mem("x", names, labels, x.begin());
}

// An entry point's body with the core's errors turned into R errors carrying
// the one-line message (fix: names a scratch file as the caller knows it).
template <class F>
auto guarded(F&& body, const std::function<std::string(const std::string&)>& fix = {}) -> decltype(body()) {
  try {
    return body();
  } catch (const syn_error& e) {
    fail(fix ? fix(e.what()) : std::string(e.what()));
  } catch (const std::bad_alloc&) {
    fail("out of memory");
  }
}

// The loaded table's scale note ("" for log-scale values), for an R warning.
std::string scale_of() { return scale_why(); }

// The candidate bound: the programs' default for NA, else checked by their rule.
double bound_of(double bound) {
  if (std::isnan(bound)) return CAND_BOUND;
  const std::string why = bound_check(bound, "bound:");
  if (!why.empty()) fail(why);
  return bound;
}

// A probe number as R gives it (1-based) turned into the table's (0-based).
int probe_of(int num, size_t row) {
  if (num == NA_INTEGER || num < 1 || num > 100000000)
    fail("ranked: row " + std::to_string(row + 1) + ": probe number " +
         (num == NA_INTEGER ? std::string("NA") : std::to_string(num)) + " is out of range");
  return num - 1;
}

}  // namespace

// The ranked list, probe numbers 1-based (rows of x).
// [[Rcpp::export]]
Rcpp::List syn_rank(Rcpp::NumericMatrix x, std::vector<std::string> names, std::vector<int> labels,
                    double threads, bool quiet) {
  int nt = thread_count(threads);
  state_guard g;
  return guarded([&] {
    load(x, names, labels);
    meter show("probe_rank", "probes scored", n_prob, !quiet);
    std::vector<rank_row> rows = rank_probes(nt, between_items(show));
    const R_xlen_t n = static_cast<R_xlen_t>(rows.size());
    Rcpp::CharacterVector name(n);
    Rcpp::IntegerVector num(n), cl(n);
    Rcpp::NumericVector score(n);
    for (R_xlen_t k = 0; k < n; ++k) {
      name[k] = probe[rows[k].p];
      num[k] = rows[k].p + 1;
      score[k] = rows[k].score;
      cl[k] = rows[k].n_cl;
    }
    return Rcpp::List::create(Rcpp::Named("name") = name, Rcpp::Named("probe") = num,
                              Rcpp::Named("score") = score, Rcpp::Named("clusters") = cl,
                              Rcpp::Named("scale") = scale_of());
  });
}

// The search of pair_search over candidate positions start to end, 1-based
// and inclusive (end NA: all). The ranked list is read from rank_path (named
// rank_name in messages) by the program's reader, which checks it against
// the table and takes the candidates at bound. The records go through the
// program's writer into rec_path and are read back by its reader, compactly:
// one column per record of labels (raw) and clusters (raw while every
// cluster number fits a byte), and for each record the number of the first
// record of its unordered pair (a mirror or a repeat points back).
// [[Rcpp::export]]
Rcpp::List syn_search(Rcpp::NumericMatrix x, std::vector<std::string> names, std::vector<int> labels,
                      std::string rank_path, std::string rank_name, double bound, int start, int end,
                      double threads, bool quiet, std::string rec_path) {
  int nt = thread_count(threads);
  state_guard g;
  return guarded(
      [&] {
        bound = bound_of(bound);
        rec_out rec(rec_path);
        load(x, names, labels);
        const std::vector<int> cand = cand_of(read_ranked(rank_path.c_str(), bound));
        const int count = static_cast<int>(cand.size());
        if (end == NA_INTEGER) end = count;
        // the program's rule on its positions [start - 1, end), said in R's terms
        if (count > 0 && !range_check(static_cast<long>(start) - 1, end, count, rank_name).empty())
          fail("start, end: " + std::to_string(start) + " to " + std::to_string(end) +
               " reaches outside the candidates 1 to " + std::to_string(count) + " of ranked");
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::fopen("/dev/null", "w"), std::fclose);
        if (!sink) fail(os_err("/dev/null: cannot open"));
        if (start <= end && count > 0) {
          meter show("pair_search", "pairs", static_cast<long>(end - start + 1) * count, !quiet);
          run_search(cand, start - 1, end, nt, rec, sink.get(), between_items(show));
        }
        const R_xlen_t n_rec = static_cast<R_xlen_t>(rec.count());
        Rcpp::CharacterVector first(n_rec), second(n_rec);
        Rcpp::NumericVector syn(n_rec);
        Rcpp::IntegerVector flips(n_rec), pair(n_rec), part(n_rec);
        // the partitions, one column each (n_samp values), a mirror's shared with
        // its pair's first record when they are the same (as a whole search makes them)
        const bool small = n_samp <= 256;
        std::vector<Rbyte> lab_v, cid_b;
        std::vector<int> cid_i;
        size_t n_part = 0;
        if (n_rec > 0) {
          rec_reader in(rec_path.c_str(), nt);
          std::unordered_map<uint64_t, int> first_of;
          pair_rec r;
          for (R_xlen_t k = 0; k < n_rec && in.next(r); ++k) {
            first[k] = r.a;
            second[k] = r.b;
            syn[k] = r.syn;
            int changed = 0;
            for (int s = 0; s < n_samp; ++s) changed += r.lab[s] != ini_phe[s];
            flips[k] = changed;
            const int f = first_of.emplace(pair_key(r.pa, r.pb), static_cast<int>(k) + 1).first->second;
            pair[k] = f;
            if (f != k + 1) {
              const size_t at = static_cast<size_t>(part[f - 1] - 1) * n_samp;
              bool same = true;
              for (int s = 0; s < n_samp && same; ++s)
                same = lab_v[at + s] == r.lab[s] && (small ? cid_b[at + s] : cid_i[at + s]) == r.cid[s];
              if (same) {
                part[k] = part[f - 1];
                continue;
              }
            }
            for (int s = 0; s < n_samp; ++s) {
              lab_v.push_back(static_cast<Rbyte>(r.lab[s]));
              if (small)
                cid_b.push_back(static_cast<Rbyte>(r.cid[s]));
              else
                cid_i.push_back(r.cid[s]);
            }
            part[k] = static_cast<int>(++n_part);
          }
        }
        Rcpp::RawMatrix lab(n_samp, static_cast<int>(n_part));
        std::copy(lab_v.begin(), lab_v.end(), lab.begin());
        lab_v = std::vector<Rbyte>();
        Rcpp::List out = Rcpp::List::create(Rcpp::Named("first") = first, Rcpp::Named("second") = second,
                                            Rcpp::Named("synergy") = syn, Rcpp::Named("flips") = flips,
                                            Rcpp::Named("pair") = pair, Rcpp::Named("part") = part,
                                            Rcpp::Named("labels") = lab);
        if (small) {
          Rcpp::RawMatrix cid(n_samp, static_cast<int>(n_part));
          std::copy(cid_b.begin(), cid_b.end(), cid.begin());
          out["clusters"] = cid;
        } else {
          Rcpp::IntegerMatrix cid(n_samp, static_cast<int>(n_part));
          std::copy(cid_i.begin(), cid_i.end(), cid.begin());
          out["clusters"] = cid;
        }
        out["candidates"] = count;
        out["bound"] = bound;
        out["scale"] = scale_of();
        return out;
      },
      [&](const std::string& m) { return rename_in(m, rank_path, rank_name); });
}

// The ranked list of these rows (probe numbers 1-based), written as
// probe_rank writes it.
// [[Rcpp::export]]
void syn_write_ranked(std::vector<std::string> name, std::vector<int> num, std::vector<double> score,
                      std::vector<int> clusters, std::string file) {
  return guarded([&] {
    std::vector<rl_row> rows(name.size());
    for (size_t k = 0; k < name.size(); ++k) rows[k] = {name[k], probe_of(num[k], k), score[k], clusters[k]};
    const std::string text = write_ranked(rows);
    out_file(file).write(text);
  });
}

// The file columns of a ranked list, a significance table and a search null.
// [[Rcpp::export]]
Rcpp::List syn_columns() {
  return Rcpp::List::create(Rcpp::Named("ranked") = ranked_names(),
                            Rcpp::Named("signif") = sig_names(false, false),
                            Rcpp::Named("search_null") = null_names());
}

// The records numbered idx (1-based) of a pair_search result (record k's
// partitions in column part[k] of labels and clusters), as pair_search
// writes them: the whole file replaced at once, or appended record by record
// as the program does.
// [[Rcpp::export]]
void syn_write_records(Rcpp::CharacterVector first, Rcpp::CharacterVector second, Rcpp::NumericVector synergy,
                       Rcpp::IntegerVector part, Rcpp::RawMatrix labels, SEXP clusters,
                       Rcpp::IntegerVector idx, std::string file, bool append) {
  return guarded([&] {
    const int n_samp = labels.nrow();
    const bool small = TYPEOF(clusters) == RAWSXP;
    const Rbyte* cr = small ? RAW(clusters) : nullptr;
    const int* ci = small ? nullptr : INTEGER(clusters);
    std::vector<int> lab(n_samp), cid(n_samp);
    // appended through the program's record writer; a replaced file is
    // streamed into a temporary file beside it, renamed into place when
    // complete, so a large result is never held as one text
    struct stat st;
    bool exists = false;
    int fd = -1;
    const std::string dest = append ? std::string() : out_dest(file, st, exists, fd);
    const bool whole = !append && (fd >= 0 || (exists && !S_ISREG(st.st_mode)));
    std::unique_ptr<tmp_file> tmp;
    std::unique_ptr<rec_out> out;
    if (append) {
      out = std::make_unique<rec_out>(file);
    } else if (!whole) {
      tmp = std::make_unique<tmp_file>(dest);
      // the mode a plain create gives, or the replaced file's
      mode_t mask = umask(0);
      umask(mask);
      fchmod(tmp->fd(), exists ? st.st_mode & 07777 : 0666 & ~mask);
    }
    std::string text;
    for (R_xlen_t r = 0; r < idx.size(); ++r) {
      const R_xlen_t k = idx[r] - 1;
      const std::string a = Rcpp::as<std::string>(first[k]), b = Rcpp::as<std::string>(second[k]);
      for (const std::string* n : {&a, &b}) {
        const std::string why = name_fault(*n);
        if (!why.empty())
          fail("records: row " + std::to_string(k + 1) + ": probe " + show_field(*n) + ": " + why);
      }
      for (int s = 0; s < n_samp; ++s) {
        const size_t at = static_cast<size_t>(part[k] - 1) * n_samp + s;
        lab[s] = labels[at];
        cid[s] = small ? cr[at] : ci[at];
      }
      std::string rec;
      record_text(rec, a, b, synergy[k], lab.data(), cid.data(), n_samp);
      if (append)
        out->append(rec);
      else if (whole)
        text += rec;
      else if (!write_all(tmp->fd(), rec.data(), rec.size()))
        fail(os_err(file + ": write failed"));
    }
    if (whole) out_file(file).write(text);
    if (tmp) {
      tmp->close_or_throw(file);
      if (rename(tmp->path().c_str(), dest.c_str()) != 0)
        fail(os_err(file + ": cannot move the finished file into place"));
      tmp->release();
    }
  });
}

// A table file read and checked as the programs read it.
// [[Rcpp::export]]
Rcpp::List syn_read(std::string path) {
  state_guard g;
  return guarded([&] {
    load_exp(path.c_str());
    Rcpp::NumericMatrix x(n_prob, n_samp);
    for (int p = 0; p < n_prob; ++p)
      for (int s = 0; s < n_samp; ++s) x(p, s) = expr[p][s];
    return Rcpp::List::create(Rcpp::Named("x") = x, Rcpp::Named("names") = probe, Rcpp::Named("labels") = phe,
                              Rcpp::Named("samples") = read_names(path.c_str(), n_samp));
  });
}

// The table in the programs' input format: a header line naming the samples,
// the label line (unless with_labels is false: the labels then come from a
// sample sheet), one line per probe with every value in full (%.17g reads
// back as the same double).
// [[Rcpp::export]]
void syn_write_expr(Rcpp::NumericMatrix x, std::vector<std::string> names, std::vector<int> labels,
                    std::vector<std::string> samples, std::string file, bool with_labels = true) {
  state_guard g;
  return guarded([&] {
    load(x, names, labels);  // the programs' checks of names and values
    for (size_t s = 0; s < samples.size(); ++s) {
      const std::string why = name_fault(samples[s]);
      if (!why.empty())
        fail("x: sample " + std::to_string(s + 1) + " " + show_field(samples[s]) + ": " + why);
    }
    std::string t = "probe";
    for (const std::string& s : samples) t += '\t' + s;
    t += '\n';
    if (with_labels) {
      t += "label";
      for (int v : labels) t += v ? "\t1" : "\t0";
      t += '\n';
    }
    char b[32];
    for (int p = 0; p < n_prob; ++p) {
      t += probe[p];
      for (int s = 0; s < n_samp; ++s) {
        std::snprintf(b, sizeof b, "\t%.17g", expr[p][s]);
        t += b;
      }
      t += '\n';
    }
    out_file(file).write(t);
  });
}

// A sample sheet: sample name and class, as --pheno reads it with --column class.
// [[Rcpp::export]]
void syn_write_sheet(std::vector<std::string> samples, std::vector<int> labels,
                     std::vector<std::string> classes, std::string file) {
  return guarded([&] {
    std::string t = "sample\tclass\n";
    for (size_t s = 0; s < samples.size(); ++s) t += samples[s] + '\t' + classes[labels[s] ? 1 : 0] + '\n';
    out_file(file).write(t);
  });
}

// Search-null lines as pair_signif --null-line prints them (NA: no record).
// [[Rcpp::export]]
void syn_write_null_lines(std::vector<std::string> seed, std::vector<int> cand, std::vector<double> base,
                          std::vector<double> fin, std::string file) {
  return guarded([&] {
    std::string t = head_line(null_names());
    for (size_t k = 0; k < seed.size(); ++k) {
      uint64_t sd = 0;
      try {
        sd = arg_u64(seed[k].c_str(), "search_null: seed");
      } catch (const usage_error& e) {
        fail(e.what());
      }
      if (cand[k] == NA_INTEGER || cand[k] < 0)
        fail("search_null: row " + std::to_string(k + 1) + ": candidates must be a count");
      const bool has = !std::isnan(base[k]) && !std::isnan(fin[k]);
      t += null_text(sd, cand[k], has, has ? base[k] : 0, has ? fin[k] : 0);
    }
    out_file(file).write(t);
  });
}

// Gene symbols as pair_report --annot reads them: probe, symbol.
// [[Rcpp::export]]
void syn_write_annot(std::vector<std::string> names, std::vector<std::string> sym, std::string file) {
  return guarded([&] {
    std::string t;
    for (size_t k = 0; k < names.size(); ++k)
      if (!sym[k].empty() && name_fault(sym[k]).empty()) t += names[k] + '\t' + sym[k] + '\n';
    out_file(file).write(t);
  });
}

// The report of pair_report from files (the scratch copies of R objects or
// the user's own), with its options (NA: the program's default); the labels
// from a sample sheet when sheet is not empty. Returns the notes, the scale
// note apart.
// [[Rcpp::export]]
Rcpp::List syn_report(std::string expr_path, std::string sheet, std::string cas, std::string ranked,
                      std::string records, std::string out, std::string signif, std::string null_path,
                      std::string annot, std::string tsv, std::string edges, double top, double q,
                      double bound, std::string command) {
  state_guard g;
  return guarded([&] {
    struct pheno_reset {
      ~pheno_reset() { pheno = pheno_src(); }
    } pr;
    rep_opt o;
    o.expr = expr_path, o.ranked = ranked, o.records = records, o.out = out;
    o.signif = signif, o.null = null_path, o.annot = annot, o.tsv = tsv, o.edges = edges;
    if (!std::isnan(top)) {
      if (!(top >= 1 && top <= TOP_MAX && top == std::floor(top)))
        fail("top: must be a whole number from 1 to " + std::to_string(TOP_MAX));
      o.top_n = static_cast<int>(top);
    }
    if (!std::isnan(q)) {
      if (!(q > 0 && q <= 1)) fail("q: must be above 0 and at most 1");
      o.q = q;
    }
    o.bound = bound_of(bound);
    o.version = syn_version();
    o.command = command;
    if (!sheet.empty()) {
      pheno.sheet = sheet;
      pheno.column = "class";
      pheno.cas = cas;
    }
    const std::string why = opt_error(o);
    if (!why.empty()) fail(why);
    std::vector<std::string> notes = run_report(o);
    const std::string scale = scale_why();
    std::vector<std::string> other;
    for (const std::string& n : notes)
      if (n != scale) other.push_back(n);
    return Rcpp::List::create(
        Rcpp::Named("notes") = other,
        Rcpp::Named("scale") = scale.empty() ? std::vector<std::string>() : std::vector<std::string>{scale});
  });
}

// The significance of pair_signif: the records, the ranked list (and the
// search null, when given) read and checked from files by the program's own
// readers, the records also against the table, list and bound (rec_check.h); paths given by R for objects it
// wrote are named as rec_name etc. in messages. Returns the table's columns in the table's order.
// [[Rcpp::export]]
Rcpp::List syn_signif(Rcpp::NumericMatrix x, std::vector<std::string> names, std::vector<int> labels,
                      std::string rec_path, std::string rec_name, std::string rank_path,
                      std::string rank_name, std::string null_path, std::string null_name, std::string perm,
                      std::string seed, double hits, std::string tail, double particles, double bound,
                      double threads, bool quiet) {
  int nt = thread_count(threads);
  state_guard g;
  std::string path, shown;  // the file being read, for messages
  return guarded(
      [&] {
        sig_opt o;  // the engines' defaults
        // the engines' rules for perm, seed, hits, tail and particles, named
        // as arguments; empty or NA: the default
        if (!tail.empty()) {
          const std::string why = tail_word(tail, o.tail, "", ":");
          if (!why.empty()) fail(why);
        }
        auto whole = [](double v) {
          return v >= INT_MAX ? INT_MAX : v <= INT_MIN ? INT_MIN : static_cast<int>(v);
        };
        if (!std::isnan(particles)) {
          if (particles != std::floor(particles)) fail("particles: must be a whole number");
          o.part = whole(particles);
        }
        if (!std::isnan(hits)) {
          if (hits != std::floor(hits)) fail("hits: must be a whole number");
          o.hits = whole(hits);
        }
        try {
          if (!perm.empty()) o.cap = arg_u64(perm.c_str(), "perm:");
          if (!seed.empty()) o.seed = arg_u64(seed.c_str(), "seed:");
        } catch (const usage_error& e) {
          fail(e.what());
        }
        o.bound = bound = bound_of(bound);
        const std::string why = sig_check(o, "", ":");
        if (!why.empty()) fail(why);
        o.n_thr = nt;
        load(x, names, labels);
        if (perm.empty()) o.cap = sig_cap(o.tail);
        // the list must come from this table, the records from this table, list and bound
        path = rank_path, shown = rank_name;
        const rl_info rk = read_ranked(rank_path.c_str(), bound);
        rec_check chk(rk, rank_name, bound, nt, false);  // partitions checked as sig_run makes them
        o.joint = [&chk](size_t i, const part& pj) { chk.check_joint(i, pj); };
        path = rec_path, shown = rec_name;
        sig_in in = read_pairs(rec_path.c_str(), nt, &chk);
        std::vector<double> null_final;
        const bool with_null = !null_path.empty();
        if (with_null) {
          path = null_path, shown = null_name;
          null_final = null_finals(null_path.c_str());
        }
        path = rec_path, shown = rec_name;  // a partition line found wrong as the pairs are set up
        {
          meter show("pair_signif", "pairs settled", static_cast<long>(in.pr.size()), !quiet);
          // on the calling thread only, between rounds and as pairs settle there
          sig_run(in.pr, o, between_items(show));
        }
        // the program's order (p ascending, base descending, record order) and q
        const auto& pr = in.pr;
        const size_t m = pr.size();
        std::vector<size_t> ord;
        std::vector<double> q;
        sig_rank(in, ord, q);
        const R_xlen_t n = static_cast<R_xlen_t>(m);
        Rcpp::CharacterVector first(n), second(n);
        Rcpp::NumericVector base(n), fin(n), p(n), qv(n), ps(with_null ? n : 0), perms(n), adm(n), hit(n);
        Rcpp::CharacterVector src(o.tail ? n : 0);
        Rcpp::NumericVector l2e(o.tail ? n : 0);
        Rcpp::IntegerVector flips(n);
        for (R_xlen_t k = 0; k < n; ++k) {
          const size_t i = ord[k];
          first[k] = probe[pr[i].a];
          second[k] = probe[pr[i].b];
          base[k] = pr[i].base;
          fin[k] = in.fin[i];
          flips[k] = in.flips[i];
          p[k] = pr[i].p;
          qv[k] = q[i];
          if (with_null) ps[k] = p_search(in.fin[i], null_final);
          perms[k] = static_cast<double>(pr[i].perms);
          adm[k] = static_cast<double>(pr[i].adm);
          hit[k] = static_cast<double>(pr[i].hits);
          if (o.tail) {
            src[k] = SIG_SRC_NAME[pr[i].src];
            l2e[k] = pr[i].l2err;
          }
        }
        Rcpp::List out =
            Rcpp::List::create(Rcpp::Named("first") = first, Rcpp::Named("second") = second,
                               Rcpp::Named("base") = base, Rcpp::Named("final") = fin,
                               Rcpp::Named("flips") = flips, Rcpp::Named("p") = p, Rcpp::Named("q") = qv);
        if (with_null) out["p_search"] = ps;
        out["perms"] = perms;
        out["admissible"] = adm;
        out["hits"] = hit;
        if (o.tail) {
          out["p_source"] = src;
          out["p_log2err"] = l2e;
        }
        out.names() = sig_names(with_null, o.tail);  // the file's columns, from the file layer
        out["scale"] = scale_of();
        // what the table's provenance lines record besides the version and command
        out.attr("prov") = std::vector<std::string>{
            "seed", std::to_string(o.seed), "perm", std::to_string(o.cap), "bound", num_text(o.bound)};
        return out;
      },
      [&](const std::string& m) { return rename_in(m, path, shown); });
}

// The significance table written as pair_signif writes OUT (the file
// layer's writer): the provenance lines from prov (version, command, then
// name and value pairs), the header, a line per row.
// [[Rcpp::export]]
void syn_write_signif(std::vector<std::string> first, std::vector<std::string> second,
                      std::vector<double> base, std::vector<double> fin, std::vector<int> flips,
                      std::vector<double> p, std::vector<double> q,
                      Rcpp::Nullable<Rcpp::NumericVector> p_search, std::vector<double> perms,
                      std::vector<double> adm, std::vector<double> hits,
                      Rcpp::Nullable<Rcpp::CharacterVector> p_source,
                      Rcpp::Nullable<Rcpp::NumericVector> p_log2err, std::vector<std::string> prov_lines,
                      std::string file) {
  return guarded([&] {
    const bool with_null = p_search.isNotNull();
    const bool with_src = p_source.isNotNull() && p_log2err.isNotNull();
    std::vector<double> ps, l2e;
    std::vector<std::string> src;
    if (with_null) ps = Rcpp::as<std::vector<double>>(p_search.get());
    if (with_src) {
      src = Rcpp::as<std::vector<std::string>>(p_source.get());
      l2e = Rcpp::as<std::vector<double>>(p_log2err.get());
    }
    std::vector<sig_row> rows(first.size());
    for (size_t k = 0; k < rows.size(); ++k) {
      sig_row& r = rows[k];
      r.a = first[k], r.b = second[k];
      r.base = base[k], r.fin = fin[k], r.flips = flips[k], r.p = p[k], r.q = q[k];
      if (with_null) r.ps = ps[k];
      r.perms = static_cast<long>(perms[k]), r.adm = static_cast<long>(adm[k]),
      r.hits = static_cast<long>(hits[k]);
      if (with_src) r.src = src[k], r.l2err = l2e[k];
    }
    prov pv;
    if (prov_lines.size() >= 2) {
      pv.version = prov_lines[0];
      pv.command = prov_lines[1];
      for (size_t k = 2; k + 1 < prov_lines.size(); k += 2)
        pv.more.emplace_back(prov_lines[k], prov_lines[k + 1]);
    }
    const std::string text = write_signif(rows, with_null, with_src, pv);
    out_file(file).write(text);
  });
}
