// r_glue.cpp: the package's entry points, thin layers over the analysis core and
// the programs' own routines (rank_probes, rank_text, out_file, run_search,
// pair_record, rec_out), so that R gets the programs' results and files.
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
#include "inputs.h"
#include "line_src.h"
#include "rec_check.h"
#include "rank.h"
#include "search.h"
#include "sig.h"
#include "synergy.h"

namespace {

// Frees the loaded table when an entry point returns or fails.
struct state_guard {
  ~state_guard() { reset_exp(); }
};

// An R error whose message is the one line alone (no call), as the programs print it.
[[noreturn]] void fail(const std::string& msg) { throw Rcpp::exception(msg.c_str(), false); }

// The -t rule: a whole number from 0 to MAX_THREADS, 0 meaning every core.
int thread_count(double t) {
  if (!(t >= 0 && t <= MAX_THREADS && t == std::floor(t))) {
    char b[64];
    std::snprintf(b, sizeof b, "%g", t);
    fail("threads: thread count '" + std::string(b) + "' is not a number from 0 to " +
         std::to_string(MAX_THREADS));
  }
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

void load(const Rcpp::NumericMatrix& x, const std::vector<std::string>& names, const std::vector<int>& labels) {
  load_mem("x", names, labels, x.begin());
}

// A file's path in a message replaced by the name the R caller knows it by
// (an R object written to a scratch file); shown as given when shown == path.
std::string rename_in(std::string msg, const std::string& path, const std::string& shown) {
  if (path.empty() || path == shown) return msg;
  for (size_t at = msg.find(path); at != std::string::npos; at = msg.find(path, at + shown.size()))
    msg.replace(at, path.size(), shown);
  return msg;
}

std::string fmt(const char* f, double v) {
  char b[64];
  std::snprintf(b, sizeof b, f, v);
  return b;
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

}  // namespace

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
      num[k] = rows[k].p;
      score[k] = rows[k].score;
      cl[k] = rows[k].n_cl;
    }
    return Rcpp::List::create(Rcpp::Named("name") = name, Rcpp::Named("probe") = num,
                              Rcpp::Named("score") = score, Rcpp::Named("clusters") = cl);
  });
}

// The search of pair_search over candidate positions [start, end) (end NA:
// all). The ranked list is read from rank_path (named rank_name in messages)
// by the program's reader, which checks it against the table and takes the
// candidates at bound. The records go through the program's writer into
// rec_path and are read back.
// [[Rcpp::export]]
Rcpp::List syn_search(Rcpp::NumericMatrix x, std::vector<std::string> names, std::vector<int> labels,
                      std::string rank_path, std::string rank_name, double bound, int start, int end, double threads,
                      bool quiet, std::string rec_path) {
  int nt = thread_count(threads);
  state_guard g;
  return guarded([&] {
    try {
      want_bound(bound, "bound:");
    } catch (const usage_error& e) {
      fail(e.what());
    }
    rec_out rec(rec_path);
    load(x, names, labels);
    const std::vector<int> cand = cand_of(read_ranked(rank_path.c_str(), bound));
    const int count = static_cast<int>(cand.size());
    if (end == NA_INTEGER) end = count;
    if (count > 0 && (start < 0 || start > count || end < 0 || end > count))
      fail("range " + std::to_string(start) + ".." + std::to_string(end) +
           " reaches outside the candidate positions 0.." + std::to_string(count) + " of ranked");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::fopen("/dev/null", "w"), std::fclose);
    if (!sink) fail(os_err("/dev/null: cannot open"));
    if (start < end && count > 0) {
      meter show("pair_search", "pairs", static_cast<long>(end - start) * count, !quiet);
      run_search(cand, start, end, nt, rec, sink.get(), between_items(show));
    }

    // read the records back: two lines each, names, synergy or -9, one field per
    // sample; counted first, so that the matrices are filled in place
    long n_lines = 0;
    struct stat st;
    // the writer creates the file only with the first record
    const bool any = stat(rec_path.c_str(), &st) == 0;
    if (any) {
      line_src in(rec_path.c_str());
      std::string line;
      while (in.next(line)) ++n_lines;
    }
    const int n_rec = static_cast<int>(n_lines / 2);
    Rcpp::CharacterVector first(n_rec), second(n_rec);
    Rcpp::NumericVector syn(n_rec);
    Rcpp::IntegerVector flips(n_rec);
    Rcpp::IntegerMatrix lab_m(n_rec, n_samp), cid_m(n_rec, n_samp);
    if (any) {
      line_src in(rec_path.c_str());
      std::string line;
      for (long k = 0; k < 2L * n_rec && in.next(line); ++k) {
        const int r = static_cast<int>(k / 2);
        const char* b = line.c_str();
        const char* t1 = std::strchr(b, '\t');
        const char* t2 = t1 ? std::strchr(t1 + 1, '\t') : nullptr;
        if (!t2) fail(rec_path + ": line " + std::to_string(k + 1) + " is not a record line");
        char* e = nullptr;
        double v = std::strtod(t2 + 1, &e);
        Rcpp::IntegerMatrix& to = k % 2 ? cid_m : lab_m;
        for (int s = 0; s < n_samp; ++s) {
          if (*e != '\t') fail(rec_path + ": line " + std::to_string(k + 1) + " is not a record line");
          to(r, s) = static_cast<int>(std::strtol(e + 1, &e, 10));
        }
        if (k % 2 == 0) {
          int changed = 0;
          for (int s = 0; s < n_samp; ++s) changed += lab_m(r, s) != ini_phe[s];
          first[r] = std::string(b, t1);
          second[r] = std::string(t1 + 1, t2);
          syn[r] = v;
          flips[r] = changed;
        }
      }
    }
    return Rcpp::List::create(Rcpp::Named("first") = first, Rcpp::Named("second") = second,
                              Rcpp::Named("synergy") = syn, Rcpp::Named("flips") = flips,
                              Rcpp::Named("labels") = lab_m, Rcpp::Named("clusters") = cid_m,
                              Rcpp::Named("candidates") = count);
  }, [&](const std::string& m) { return rename_in(m, rank_path, rank_name); });
}

// The ranked list of these rows, written as probe_rank writes it.
// [[Rcpp::export]]
void syn_write_ranked(std::vector<std::string> name, std::vector<int> num, std::vector<double> score,
                      std::vector<int> clusters, std::string file) {
  state_guard g;
  return guarded([&] {
    // rank_text names row r by probe[r.p]: give each written probe number its name
    std::vector<rank_row> rows(name.size());
    int top = -1;
    for (size_t k = 0; k < name.size(); ++k) {
      const std::string why = name_fault(name[k]);
      if (!why.empty()) fail("ranked: row " + std::to_string(k + 1) + ": probe " + show_field(name[k]) + ": " + why);
      if (num[k] < 0 || num[k] >= 100000000)
        fail("ranked: row " + std::to_string(k + 1) + ": probe number " +
             (num[k] == NA_INTEGER ? std::string("NA") : std::to_string(num[k])) + " is out of range");
      rows[k].p = num[k];
      rows[k].score = score[k];
      rows[k].n_cl = clusters[k];
      if (num[k] > top) top = num[k];
    }
    probe.assign(static_cast<size_t>(top + 1), std::string());
    for (size_t k = 0; k < name.size(); ++k) probe[num[k]] = name[k];
    out_file(file).write(rank_text(rows));
  });
}

// Pair records as pair_search writes them: the whole file replaced at once, or
// appended record by record as the program does.
// [[Rcpp::export]]
void syn_write_records(std::vector<std::string> first, std::vector<std::string> second,
                       std::vector<double> synergy, Rcpp::IntegerMatrix labels, Rcpp::IntegerMatrix clusters,
                       std::string file, bool append) {
  state_guard g;
  return guarded([&] {
    // pair_record names the pair by probe[a] and probe[b] and writes n_samp fields
    n_samp = labels.ncol();
    probe.assign(2, std::string());
    std::vector<int> lab(n_samp), cid(n_samp);
    std::unique_ptr<rec_out> out;
    if (append) out = std::make_unique<rec_out>(file);
    std::string text;
    for (size_t r = 0; r < first.size(); ++r) {
      for (const std::string* n : {&first[r], &second[r]}) {
        const std::string why = name_fault(*n);
        if (!why.empty()) fail("records: row " + std::to_string(r + 1) + ": probe " + show_field(*n) + ": " + why);
      }
      probe[0] = first[r];
      probe[1] = second[r];
      for (int s = 0; s < n_samp; ++s) {
        lab[s] = labels(r, s);
        cid[s] = clusters(r, s);
      }
      std::string rec = pair_record(0, 1, synergy[r], lab.data(), cid.data());
      if (append) out->append(rec);
      else text += rec;
    }
    if (!append) out_file(file).write(text);
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
    // the header line is not part of the table; its fields name the samples when they fit
    Rcpp::RObject samples = R_NilValue;
    {
      line_src in(path.c_str());
      std::string line;
      if (in.next(line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string_view> f;
        split_tabs(line, f);
        if (static_cast<int>(f.size()) == n_samp + 1) samples = Rcpp::wrap(std::vector<std::string>(f.begin() + 1, f.end()));
      }
    }
    return Rcpp::List::create(Rcpp::Named("x") = x, Rcpp::Named("names") = probe,
                              Rcpp::Named("labels") = phe, Rcpp::Named("samples") = samples);
  });
}

// The significance of pair_signif: the records, the ranked list (and the
// search null, when given) read and checked from files by the program's own
// readers, the records also against the table, list and bound (rec_check.h); paths given by R for objects it wrote are named as rec_name etc.
// in messages. Returns the table's columns in the table's order.
// [[Rcpp::export]]
Rcpp::List syn_signif(Rcpp::NumericMatrix x, std::vector<std::string> names, std::vector<int> labels,
                      std::string rec_path, std::string rec_name, std::string rank_path, std::string rank_name,
                      std::string null_path, std::string null_name, std::string perm, std::string seed, double hits,
                      std::string tail, double particles, double bound, double threads, bool quiet) {
  int nt = thread_count(threads);
  state_guard g;
  std::string path, shown;  // the file being read, for messages
  return guarded([&] {
    sig_opt o;
    // the program's rules for --perm, --seed, --hits, --tail and --particles, named as arguments
    if (tail != "split" && tail != "none") fail("tail: must be \"split\" or \"none\", not '" + tail + "'");
    o.tail = tail == "split";
    if (!(particles >= 2 && particles <= 100000 && particles == std::floor(particles)))
      fail("particles: must be a whole number from 2 to 100000");
    o.part = static_cast<int>(particles);
    try {
      // an empty perm: the program's default for the tail mode
      o.cap = perm.empty() ? 1 : arg_u64(perm.c_str(), "perm:");
      o.seed = arg_u64(seed.c_str(), "seed:");
    } catch (const usage_error& e) {
      fail(e.what());
    }
    if (o.cap == 0) fail("perm: must be at least 1");
    if (!(hits >= 1 && hits <= 1000000 && hits == std::floor(hits))) fail("hits: must be a whole number from 1 to 1000000");
    o.hits = static_cast<int>(hits);
    try {
      want_bound(bound, "bound:");
    } catch (const usage_error& e) {
      fail(e.what());
    }
    o.bound = bound;
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
    Rcpp::List out = Rcpp::List::create(Rcpp::Named("first") = first, Rcpp::Named("second") = second,
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
    return out;
  }, [&](const std::string& m) { return rename_in(m, path, shown); });
}

// The significance table written as pair_signif writes OUT: numbers in its
// formats, the file replaced whole.
// [[Rcpp::export]]
void syn_write_signif(std::vector<std::string> first, std::vector<std::string> second, std::vector<double> base,
                      std::vector<double> fin, std::vector<int> flips, std::vector<double> p, std::vector<double> q,
                      Rcpp::Nullable<Rcpp::NumericVector> p_search, std::vector<double> perms,
                      std::vector<double> adm, std::vector<double> hits,
                      Rcpp::Nullable<Rcpp::CharacterVector> p_source, Rcpp::Nullable<Rcpp::NumericVector> p_log2err,
                      std::string file) {
  return guarded([&] {
    std::vector<double> ps;
    if (p_search.isNotNull()) ps = Rcpp::as<std::vector<double>>(p_search.get());
    const bool with_null = p_search.isNotNull();
    const bool with_src = p_source.isNotNull() && p_log2err.isNotNull();
    std::vector<std::string> src;
    std::vector<double> l2e;
    if (with_src) {
      src = Rcpp::as<std::vector<std::string>>(p_source.get());
      l2e = Rcpp::as<std::vector<double>>(p_log2err.get());
    }
    std::string out = sig_head(with_null, with_src);
    auto whole = [](double v) { return fmt("%.0f", v); };
    for (size_t k = 0; k < first.size(); ++k) {
      for (const std::string* n : {&first[k], &second[k]}) {
        const std::string why = name_fault(*n);
        if (!why.empty()) fail("signif: row " + std::to_string(k + 1) + ": probe " + show_field(*n) + ": " + why);
      }
      // the final synergy as the record file writes it
      out += first[k] + '\t' + second[k] + '\t' + sig_cols(base[k], fmt("%g", fin[k]), flips[k], p[k], q[k]);
      if (with_null) out += fmt("%.6g", ps[k]) + '\t';
      out += whole(perms[k]) + '\t' + whole(adm[k]) + '\t' + whole(hits[k]);
      if (with_src) {
        const auto at = std::find(SIG_SRC_NAME, SIG_SRC_NAME + 3, src[k]);
        if (at == SIG_SRC_NAME + 3) fail("signif: row " + std::to_string(k + 1) + ": p_source '" + src[k] + "' is not perm, tail or floor");
        out += sig_src_cols(static_cast<int>(at - SIG_SRC_NAME), l2e[k]);
      }
      out += '\n';
    }
    out_file(file).write(out);
  });
}
