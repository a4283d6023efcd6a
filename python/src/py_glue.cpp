// py_glue.cpp: the module's entry points (synergy._core), thin layers over the
// analysis core, the programs' own routines (rank_probes, run_search,
// read_pairs, sig_run) and the file layer io/ (every writer and reader, the
// column tables, out_file and rec_out), so that Python gets the programs'
// results and files.
//
// Every entry point converts its arguments while holding the GIL, then
// releases it for the core's work. The core keeps its table in process-wide
// state, so entry points run one at a time (a lock taken with the GIL
// released); each loads its table afresh and frees it on the way out. Worker
// threads run core code only; Python is called (to look for a pending Ctrl-C)
// from the calling thread alone, in the ordered emit callbacks.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "eng_opt.h"
#include "io.h"
#include "line_src.h"
#include "rank.h"
#include "rec_check.h"
#include "search.h"
#include "sheet.h"
#include "sig.h"
#include "synergy.h"

namespace py = pybind11;

namespace {

using matrix = py::array_t<double, py::array::f_style | py::array::forcecast>;
using imatrix = py::array_t<int32_t, py::array::c_style | py::array::forcecast>;

// A one-line message for ValueError.
struct bad_input : std::runtime_error {
  using std::runtime_error::runtime_error;
};
[[noreturn]] void fail(const std::string& msg) { throw bad_input(msg); }

// Ctrl-C seen between items: Python's error indicator holds the exception.
struct interrupted {};

std::mutex state_lock;  // the core's process-wide state: one entry point at a time

// Frees the loaded table (and the sheet settings) when an entry point returns or fails.
struct state_guard {
  ~state_guard() {
    reset_exp();
    pheno = pheno_src();
    cls_name[0] = "label 0";
    cls_name[1] = "label 1";
    samp_field.clear();
  }
};

// body() run with the GIL released and the state locked; the core's errors
// become ValueError with the one-line message, a Ctrl-C KeyboardInterrupt.
template <class F>
auto no_gil(F&& body) -> decltype(body()) {
  std::string err;
  bool intr = false;
  {
    py::gil_scoped_release rel;
    std::lock_guard<std::mutex> lk(state_lock);
    state_guard g;
    try {
      return body();
    } catch (const syn_error& e) {
      err = e.what();
    } catch (const usage_error& e) {
      err = e.what();
    } catch (const bad_input& e) {
      err = e.what();
    } catch (const interrupted&) {
      intr = true;
    } catch (const std::bad_alloc&) {
      err = "out of memory";
    }
  }
  if (intr) throw py::error_already_set();
  throw py::value_error(err);
}

// The -t rule (eng_opt.h), 0 meaning every core.
int thread_count(double t) {
  const std::string why = threads_check(t);
  if (!why.empty()) fail("threads: " + why);
  return t == 0 ? all_cores() : static_cast<int>(t);
}

// An option's value for an int field: saturated, so that the core's check
// reports a value too large for an int as out of its range.
int sat(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

// Called after every item on the calling thread: at most every 50 ms it takes
// the GIL and lets Python run its signal handlers; a Ctrl-C becomes an
// exception that par_ordered rethrows only after its threads have stopped.
// (Taking the GIL after every item would wait for other Python threads each
// time.) The programs' progress display runs too (only on a terminal).
std::function<void(long)> between_items(meter& show) {
  auto last = std::chrono::steady_clock::now();
  return [&show, last](long done) mutable {
    const auto now = std::chrono::steady_clock::now();
    if (now - last >= std::chrono::milliseconds(50)) {
      last = now;
      py::gil_scoped_acquire g;
      if (PyErr_CheckSignals() != 0) throw interrupted();
    }
    show(done);
  };
}

// The table handed over: probes in rows, column-major (x is f_style).
struct table_in {
  const double* x;
  std::vector<std::string> names;
  std::vector<int> labels;
};
table_in table_of(const matrix& x, std::vector<std::string> names, std::vector<int> labels) {
  if (x.ndim() != 2) fail("x: expected a 2-dimensional table");
  if (static_cast<size_t>(x.shape(0)) != names.size())
    fail("x: " + std::to_string(x.shape(0)) + " rows but " + std::to_string(names.size()) + " probe names");
  if (static_cast<size_t>(x.shape(1)) != labels.size())
    fail("labels: " + std::to_string(labels.size()) + " labels for " + std::to_string(x.shape(1)) +
         " samples");
  return {x.data(), std::move(names), std::move(labels)};
}

void load(const table_in& t) { load_mem("x", t.names, t.labels, t.x); }

// The same, around a body whose messages may name one of several scratch files.
template <class F>
auto renamed(const std::vector<std::pair<std::string, std::string>>& files, F&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const syn_error& e) {
    std::string m = e.what();
    for (const auto& f : files) m = rename_in(m, f.first, f.second);
    throw syn_error(m);
  }
}

// The notes the programs print on stderr, for Python's warnings: the scale
// check, and why a search would find nothing.
struct notes {
  std::string scale, empty;
};
notes load_notes(bool labels_too, double bound) {
  notes n;
  n.scale = scale_why();
  if (labels_too && n_prob > 0) n.empty = label_why(bound);
  return n;
}
void put_notes(py::dict& d, const notes& n) {
  d["scale"] = n.scale;
  d["empty"] = n.empty;
}

template <class T>
py::array_t<T> to_array(const std::vector<T>& v) {
  py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
  if (!v.empty()) std::memcpy(a.mutable_data(), v.data(), v.size() * sizeof(T));
  return a;
}

template <class T>
py::array_t<T> to_matrix(const std::vector<T>& v, size_t rows, size_t cols) {
  py::array_t<T> a({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
  if (!v.empty()) std::memcpy(a.mutable_data(), v.data(), v.size() * sizeof(T));
  return a;
}

// A file in memory, named by the path of its descriptor (/dev/fd/N), which
// the writers append to through the descriptor and the readers open afresh
// from its start.
class mem_file {
 public:
  mem_file() : fd_(memfd_create("synergy-records", MFD_CLOEXEC)) {
    if (fd_ < 0) throw syn_error(os_err("a file in memory for the records"));
  }
  ~mem_file() { close(fd_); }
  mem_file(const mem_file&) = delete;
  mem_file& operator=(const mem_file&) = delete;
  std::string path() const { return "/dev/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

// ---- probe_rank -----------------------------------------------------------------

struct rank_res {
  std::vector<std::string> name;
  std::vector<int> num, cl;
  std::vector<double> score;
  notes note;
};

py::dict py_rank(const matrix& x, std::vector<std::string> names, std::vector<int> labels, double threads,
                 bool quiet) {
  table_in t = table_of(x, std::move(names), std::move(labels));
  rank_res r = no_gil([&] {
    const int nt = thread_count(threads);
    load(t);
    rank_res r;
    r.note = load_notes(true, CAND_BOUND);
    meter show("probe_rank", "probes scored", n_prob, !quiet);
    std::vector<rank_row> rows = rank_probes(nt, between_items(show));
    for (const rank_row& w : rows) {
      r.name.push_back(probe[w.p]);
      r.num.push_back(w.p);
      r.score.push_back(w.score);
      r.cl.push_back(w.n_cl);
    }
    return r;
  });
  // the list's columns, named by its column table (io/ranked.h)
  const std::vector<std::string> cn = ranked_names();
  py::dict cols;
  cols[py::str(cn[0])] = r.name;
  cols[py::str(cn[1])] = to_array(r.num);
  cols[py::str(cn[2])] = to_array(r.score);
  cols[py::str(cn[3])] = to_array(r.cl);
  py::dict d;
  d["columns"] = cols;
  put_notes(d, r.note);
  return d;
}

// ---- pair_search ----------------------------------------------------------------

struct search_res {
  std::vector<std::string> first, second;
  std::vector<double> syn;
  std::vector<int> flips, lab, cid;
  int n_samp = 0, candidates = 0;
  notes note;
};

// The search of pair_search over candidate positions [start, end) (end
// INT_MIN: all). The ranked list is read from rank_path (named rank_name in messages)
// by the program's reader, which checks it against the table and takes the
// candidates at bound. The records go through the program's writer into a
// file in memory (no folder to create and remove: on a slow disk that cost
// more than the search of a small table) and are read back by the program's
// record reader.
py::dict py_search(const matrix& x, std::vector<std::string> names, std::vector<int> labels,
                   std::string rank_path, std::string rank_name, double bound, int start, int end,
                   double threads, bool quiet) {
  table_in t = table_of(x, std::move(names), std::move(labels));
  search_res r = no_gil([&] {
    return renamed({{rank_path, rank_name}}, [&] {
      const int nt = thread_count(threads);
      want_bound(bound, "bound:");
      const mem_file mem;
      const std::string rec_path = mem.path();
      rec_out rec(rec_path);
      load(t);
      search_res r;
      r.note = load_notes(true, bound);
      const std::vector<int> cand = cand_of(read_ranked(rank_path.c_str(), bound));
      const int count = static_cast<int>(cand.size());
      if (end == INT_MIN) end = count;  // all
      const std::string bad = range_check(start, end, count, rank_name);
      if (!bad.empty()) fail(bad);
      r.candidates = count;
      r.n_samp = n_samp;
      std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::fopen("/dev/null", "w"), std::fclose);
      if (!sink) fail(os_err("/dev/null: cannot open"));
      if (start < end && count > 0) {
        meter show("pair_search", "pairs", static_cast<long>(end - start) * count, !quiet);
        run_search(cand, start, end, nt, rec, sink.get(), between_items(show));
      }
      // the writer creates the file only with the first record
      if (rec.count() == 0) return r;
      rec_reader in(rec_path.c_str());
      pair_rec p;
      while (in.next(p)) {
        r.first.push_back(p.a);
        r.second.push_back(p.b);
        r.syn.push_back(p.syn);
        int changed = 0;
        for (int s = 0; s < n_samp; ++s) changed += p.lab[s] != ini_phe[s];
        r.flips.push_back(changed);
        r.lab.insert(r.lab.end(), p.lab.begin(), p.lab.end());
        r.cid.insert(r.cid.end(), p.cid.begin(), p.cid.end());
      }
      return r;
    });
  });
  py::dict d;
  d["first"] = r.first;
  d["second"] = r.second;
  d["synergy"] = to_array(r.syn);
  d["flips"] = to_array(r.flips);
  d["labels"] = to_matrix(r.lab, r.first.size(), r.n_samp);
  d["clusters"] = to_matrix(r.cid, r.first.size(), r.n_samp);
  d["candidates"] = r.candidates;
  put_notes(d, r.note);
  return d;
}

// ---- writers (io/: names passed in, nothing read from the core's state) ----------

// The ranked list of these rows, written as probe_rank writes it.
void py_write_ranked(std::vector<std::string> name, std::vector<int64_t> num, std::vector<double> score,
                     std::vector<int64_t> clusters, std::string file) {
  if (num.size() != name.size() || score.size() != name.size() || clusters.size() != name.size())
    throw py::value_error("ranked: the columns differ in length");
  no_gil([&] {
    std::vector<rl_row> rows(name.size());
    for (size_t k = 0; k < name.size(); ++k) {
      if (num[k] < 0 || num[k] > INT_MAX)
        fail("ranked: row " + std::to_string(k + 1) + ": probe number " + std::to_string(num[k]) +
             " is out of range");
      rows[k] = {std::move(name[k]), static_cast<int>(num[k]), score[k], sat(clusters[k])};
    }
    const std::string text = write_ranked(rows);
    out_file(file).write(text);
  });
}

// Pair records as pair_search writes them: the whole file replaced at once, or
// appended record by record as the program does.
void py_write_records(std::vector<std::string> first, std::vector<std::string> second,
                      std::vector<double> synergy, const imatrix& labels, const imatrix& clusters,
                      std::string file, bool append) {
  const size_t n = first.size();
  if (second.size() != n || synergy.size() != n || labels.ndim() != 2 || clusters.ndim() != 2 ||
      static_cast<size_t>(labels.shape(0)) != n || labels.shape(0) != clusters.shape(0) ||
      labels.shape(1) != clusters.shape(1))
    throw py::value_error("records: labels and clusters must hold one row per record, of one length");
  const size_t ns = static_cast<size_t>(labels.shape(1));
  const int32_t* lp = labels.data();
  const int32_t* cp = clusters.data();
  no_gil([&] {
    std::vector<pair_rec> recs(n);
    for (size_t r = 0; r < n; ++r) {
      recs[r].a = std::move(first[r]);
      recs[r].b = std::move(second[r]);
      recs[r].syn = synergy[r];
      recs[r].lab.assign(lp + r * ns, lp + (r + 1) * ns);
      recs[r].cid.assign(cp + r * ns, cp + (r + 1) * ns);
    }
    const std::string text = write_records(recs);  // every record checked first
    if (!append) {
      out_file(file).write(text);
      return;
    }
    rec_out out(file);
    for (const pair_rec& r : recs) {
      std::string one;
      record_text(one, r.a, r.b, r.syn, r.lab.data(), r.cid.data(), static_cast<int>(ns));
      out.append(one);
    }
  });
}

// The search-null lines (pair_signif --null-line) of these searches, with
// the header; NaN best synergies: the search wrote no record (NA).
void py_write_null(std::vector<uint64_t> seed, std::vector<int64_t> cand, std::vector<double> best_base,
                   std::vector<double> best_final, std::string file) {
  const size_t n = seed.size();
  if (cand.size() != n || best_base.size() != n || best_final.size() != n)
    throw py::value_error("search_null: the columns differ in length");
  no_gil([&] {
    std::string text = head_line(null_names());
    for (size_t k = 0; k < n; ++k) {
      const bool has = !std::isnan(best_base[k]) && !std::isnan(best_final[k]);
      text += null_text(seed[k], sat(cand[k]), has, best_base[k], best_final[k]);
    }
    out_file(file).write(text);
  });
}

// ---- read_expr ----------------------------------------------------------------------

struct read_res {
  std::vector<double> x;  // column-major probes x samples
  std::vector<std::string> names, samples, classes;
  std::vector<int> labels;
  bool has_samples = false;
  notes note;
};

// A table file read and checked as the programs read it; with sheet, the
// labels from a sample sheet (sheet.h) as --pheno SHEET --column --case
// [--control] [--drop-other] take them.
py::dict py_read(std::string path, std::string sheet, std::string column, std::string cas,
                 std::string control, bool drop) {
  read_res r = no_gil([&] {
    if (!sheet.empty()) {
      pheno.sheet = sheet;
      pheno.column = column;
      pheno.cas = cas;
      pheno.control = control;
      pheno.drop = drop;
      const std::string why = pheno_usage();
      if (!why.empty()) fail(why);
    }
    load_exp(path.c_str());
    read_res r;
    r.note = load_notes(false, CAND_BOUND);
    r.x.resize(static_cast<size_t>(n_prob) * n_samp);
    for (int p = 0; p < n_prob; ++p)
      for (int s = 0; s < n_samp; ++s) r.x[p + static_cast<size_t>(s) * n_prob] = expr[p][s];
    r.names = probe;
    r.labels = phe;
    r.classes = {cls_name[0], cls_name[1]};
    // the header line is not part of a labelled table; its fields name the
    // samples when they fit (with a sheet, they are the samples)
    line_src in(path.c_str());
    std::string line;
    if (in.next(line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::vector<std::string_view> f;
      split_tabs(line, f);
      if (!samp_field.empty()) {
        for (int k : samp_field) r.samples.emplace_back(f[k]);
        r.has_samples = true;
      } else if (static_cast<int>(f.size()) == n_samp + 1) {
        r.samples.assign(f.begin() + 1, f.end());
        r.has_samples = true;
      }
    }
    return r;
  });
  py::dict d;
  d["x"] = to_array(r.x);  // column-major probes x samples: reshaped by the caller
  d["names"] = r.names;
  d["labels"] = to_array(r.labels);
  d["samples"] = r.has_samples ? py::cast(r.samples) : py::none();
  d["classes"] = r.classes;
  put_notes(d, r.note);
  return d;
}

// ---- pair_signif --------------------------------------------------------------------

struct signif_res {
  std::vector<std::string> first, second, src;
  std::vector<double> base, fin, p, q, ps, perms, adm, hits, l2e;
  std::vector<int> flips;
  bool with_null = false, tail = false;
  std::vector<std::pair<std::string, std::string>> prov;  // the settings the table's comment lines record
  notes note;
};

// The significance of pair_signif: the records, the ranked list (and the
// search null, when given) read and checked from files by the program's own
// readers, the records also against the table, list and bound (rec_check.h);
// scratch files the caller wrote for its objects are named as it knows them.
py::dict py_signif(const matrix& x, std::vector<std::string> names, std::vector<int> labels,
                   std::string rec_path, std::string rec_name, std::string rank_path, std::string rank_name,
                   std::string null_path, std::string null_name, std::string perm, std::string seed,
                   int64_t hits, std::string tail, int64_t particles, double bound, double threads,
                   bool quiet) {
  table_in t = table_of(x, std::move(names), std::move(labels));
  signif_res r = no_gil([&] {
    return renamed({{rank_path, rank_name}, {rec_path, rec_name}, {null_path, null_name}}, [&] {
      const int nt = thread_count(threads);
      // the program's rules (eng_opt.h), named as arguments
      sig_opt o;
      const std::string bad_tail = tail_word(tail, o.tail, "", ":");
      if (!bad_tail.empty()) fail(bad_tail);
      o.cap = perm.empty() ? 1 : arg_u64(perm.c_str(), "perm:");
      o.seed = arg_u64(seed.c_str(), "seed:");
      o.hits = sat(hits);
      o.part = sat(particles);
      o.bound = bound;
      o.n_thr = nt;
      const std::string bad = sig_check(o, "", ":");
      if (!bad.empty()) fail(bad);
      load(t);
      signif_res r;
      r.note = load_notes(false, bound);
      if (perm.empty()) o.cap = sig_cap(o.tail);  // the default for this sample count
      // the list must come from this table, the records from this table, list and bound
      const rl_info rk = read_ranked(rank_path.c_str(), bound);
      rec_check chk(rk, rank_name, bound, nt, false);  // partitions checked as sig_run makes them
      o.joint = [&chk](size_t i, const part& pj) { chk.check_joint(i, pj); };
      sig_in in = read_pairs(rec_path.c_str(), nt, &chk);
      std::vector<double> null_final;
      r.with_null = !null_path.empty();
      if (r.with_null) null_final = null_finals(null_path.c_str());
      {
        meter show("pair_signif", "pairs settled", static_cast<long>(in.pr.size()), !quiet);
        // on the calling thread only, between rounds and as pairs settle there
        sig_run(in.pr, o, between_items(show));
      }
      r.tail = o.tail;
      // as pair_signif records them
      r.prov = {
          {"seed", std::to_string(o.seed)}, {"perm", std::to_string(o.cap)}, {"bound", num_text(o.bound)}};
      // the table's lines in its order, as the program writes them
      for (const sig_row& w : sig_rows(in, r.with_null ? &null_final : nullptr)) {
        r.first.push_back(w.a);
        r.second.push_back(w.b);
        r.base.push_back(w.base);
        r.fin.push_back(std::strtod(w.fin_txt.c_str(), nullptr));  // the value the record file gives
        r.flips.push_back(static_cast<int>(w.flips));
        r.p.push_back(w.p);
        r.q.push_back(w.q);
        if (r.with_null) r.ps.push_back(w.ps);
        r.perms.push_back(static_cast<double>(w.perms));
        r.adm.push_back(static_cast<double>(w.adm));
        r.hits.push_back(static_cast<double>(w.hits));
        if (o.tail) {
          r.src.push_back(w.src);
          r.l2e.push_back(w.l2err);
        }
      }
      return r;
    });
  });
  // the table's columns, named and ordered by its column table (io/sigtab.h)
  py::object col[SC_N];
  col[SC_FIRST] = py::cast(r.first);
  col[SC_SECOND] = py::cast(r.second);
  col[SC_BASE] = to_array(r.base);
  col[SC_FINAL] = to_array(r.fin);
  col[SC_FLIPS] = to_array(r.flips);
  col[SC_P] = to_array(r.p);
  col[SC_Q] = to_array(r.q);
  col[SC_P_SEARCH] = to_array(r.ps);
  col[SC_PERMS] = to_array(r.perms);
  col[SC_ADM] = to_array(r.adm);
  col[SC_HITS] = to_array(r.hits);
  col[SC_P_SOURCE] = py::cast(r.src);
  col[SC_P_LOG2ERR] = to_array(r.l2e);
  py::dict cols;
  for (const std::string& name : sig_names(r.with_null, r.tail))
    for (int c = 0; c < SC_N; ++c)
      if (name == SIG_COLS[c].name) cols[py::str(name)] = col[c];
  py::dict d;
  d["columns"] = cols;
  d["provenance"] = r.prov;
  put_notes(d, r.note);
  return d;
}

// The significance table written as pair_signif writes OUT (io's writer):
// the provenance lines, the header, a line per row; the file replaced whole.
// p_search, p_source and p_log2err may be None (their columns left out).
void py_write_signif(std::vector<std::string> first, std::vector<std::string> second,
                     std::vector<double> base, std::vector<double> fin, std::vector<int64_t> flips,
                     std::vector<double> p, std::vector<double> q, std::optional<std::vector<double>> ps,
                     std::vector<double> perms, std::vector<double> adm, std::vector<double> hits,
                     std::optional<std::vector<std::string>> src, std::optional<std::vector<double>> l2e,
                     std::string version, std::string command,
                     std::vector<std::pair<std::string, std::string>> more, std::string file) {
  const size_t n = first.size();
  for (size_t m :
       {second.size(), base.size(), fin.size(), flips.size(), p.size(), q.size(), perms.size(), adm.size(),
        hits.size(), ps ? ps->size() : n, src ? src->size() : n, l2e ? l2e->size() : n})
    if (m != n) throw py::value_error("signif: the columns differ in length");
  no_gil([&] {
    const bool with_src = src && l2e;
    std::vector<sig_row> rows(n);
    for (size_t k = 0; k < n; ++k) {
      sig_row& w = rows[k];
      w.a = std::move(first[k]);
      w.b = std::move(second[k]);
      w.base = base[k];
      w.fin = fin[k];
      w.fin_txt = score_text(fin[k]);  // the final synergy as the record file writes it
      w.flips = static_cast<long>(flips[k]);
      w.p = p[k];
      w.q = q[k];
      if (ps) w.ps = (*ps)[k];
      w.perms = std::llround(perms[k]);
      w.adm = std::llround(adm[k]);
      w.hits = std::llround(hits[k]);
      if (with_src) {
        w.src = (*src)[k];
        w.l2err = (*l2e)[k];
      }
    }
    const std::string text = write_signif(rows, ps.has_value(), with_src, {version, command, more});
    out_file(file).write(text);
  });
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The analysis core and the programs' routines; use the functions of the synergy package.";
  m.def("rank", &py_rank);
  m.def("search", &py_search);
  m.def("signif", &py_signif);
  m.def("read", &py_read);
  m.def("write_ranked", &py_write_ranked);
  m.def("write_records", &py_write_records);
  m.def("write_signif", &py_write_signif);
  m.def("write_null", &py_write_null);
  // the column lists of the file formats (io/)
  m.attr("RANKED_COLUMNS") = ranked_names();
  m.attr("NULL_COLUMNS") = null_names();
  m.def("signif_columns", &sig_names);
  // the core's fixed numbers and defaults, so that Python never writes them again
  m.attr("CAND_BOUND") = CAND_BOUND;
  // every default of the options as name and value text
  py::dict defs;
  for (const auto& d : eng_defaults()) defs[py::str(d.first)] = d.second;
  m.attr("DEFAULTS") = defs;
  m.attr("SIG_SEED") = SIG_SEED;
  m.attr("SIG_HITS") = SIG_HITS;
  m.attr("SIG_PART") = SIG_PART;
  m.attr("SIG_PERM") = SIG_PERM;
  m.attr("SIG_PERM_TAIL") = SIG_PERM_TAIL;
  m.attr("MAX_THREADS") = MAX_THREADS;
  m.attr("CUT") = cut;
  m.attr("version") = syn_version();
}
