// The line reader, the strict field rules, and the expression table reader
// with the input checks every program runs after it.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "line_src.h"
#include "sheet.h"
#include "synergy.h"

line_src::line_src(const char* path) : path_(path), buf_(1 << 16) {
  errno = 0;
  gzFile f = gzopen(path, "rb");
  if (!f) throw syn_error(path_ + ": cannot open: " + (errno ? std::strerror(errno) : "out of memory"));
  gzbuffer(f, 1 << 17);
  f_ = f;
  struct stat st;
  if (stat(path, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
}

line_src::~line_src() { gzclose(static_cast<gzFile>(f_)); }

uint64_t line_src::pos() const {
  z_off_t k = gzoffset(static_cast<gzFile>(f_));
  return k > 0 ? static_cast<uint64_t>(k) : 0;
}

bool line_src::next(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    if (pos_ == len_ && !fill()) {
      if (any) {
        ++n_;
        nl_ = false;
      }
      return any;
    }
    any = true;
    const char* b = buf_.data() + pos_;
    const void* nl = std::memchr(b, '\n', len_ - pos_);
    if (nl) {
      size_t k = static_cast<const char*>(nl) - b;
      line.append(b, k);
      pos_ += k + 1;
      ++n_;
      nl_ = true;
      return true;
    }
    line.append(b, len_ - pos_);
    pos_ = len_;
  }
}

bool line_src::fill() {
  if (eof_) return false;
  gzFile f = static_cast<gzFile>(f_);
  int r = gzread(f, buf_.data(), static_cast<unsigned>(buf_.size()));
  // a gzip stream that stops early reads as a short file; zlib says so here
  int zerr = Z_OK;
  const char* msg = gzerror(f, &zerr);
  if (r < 0 || (zerr != Z_OK && zerr != Z_STREAM_END)) {
    if (zerr == Z_ERRNO) msg = std::strerror(errno);
    // zlib's own messages start with the path already
    std::string why = msg;
    if (why.compare(0, path_.size() + 2, path_ + ": ") == 0) why.erase(0, path_.size() + 2);
    throw syn_error(path_ + ": read error: " + why);
  }
  if (r == 0) {
    eof_ = true;
    return false;
  }
  pos_ = 0;
  len_ = static_cast<size_t>(r);
  return true;
}

// ---- field rules ----------------------------------------------------------------

namespace {

bool blank(char c) { return c == ' '; }

// The field without surrounding blanks (and without the line's final carriage
// return when it is the last field).
std::string_view trim(std::string_view f, bool last) {
  if (last && !f.empty() && f.back() == '\r') f.remove_suffix(1);
  while (!f.empty() && blank(f.front())) f.remove_prefix(1);
  while (!f.empty() && blank(f.back())) f.remove_suffix(1);
  return f;
}

bool digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

std::string show_field(std::string_view f) {
  std::string o = "'";
  size_t n = 0;
  for (unsigned char c : f) {
    if (++n > 40) {
      o += "...";
      break;
    }
    if (c < 0x20 || c == 0x7f) {
      static const char hx[] = "0123456789abcdef";
      o += "\\x";
      o += hx[c >> 4];
      o += hx[c & 15];
    } else {
      o += static_cast<char>(c);
    }
  }
  return o + "'";
}

num_kind num_field(std::string_view f, bool last, double& v) {
  std::string_view t = trim(f, last);
  if (t.empty()) return num_kind::empty;
  // A plain finite decimal read whole by from_chars is what strtod reads,
  // both rounding correctly, at a fraction of the cost; anything else (a
  // sign '+', hex, inf and nan, out of range, trailing text) goes to strtod,
  // as does everything where the library has no from_chars for doubles.
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
  {
    const char c = t[0];
    if ((c >= '0' && c <= '9') || c == '-' || c == '.') {
      double x = 0.0;
      auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), x);
      if (ec == std::errc() && end == t.data() + t.size() && std::isfinite(x)) {
        v = x;
        return num_kind::ok;
      }
    }
  }
#endif
  // strtod needs a terminated string; fields are short, so copy onto the stack
  char buf[128];
  std::string big;
  const char* s;
  if (t.size() < sizeof buf) {
    std::memcpy(buf, t.data(), t.size());
    buf[t.size()] = '\0';
    s = buf;
  } else {
    big.assign(t);
    s = big.c_str();
  }
  // strtod skips every kind of white space; only blanks are allowed, and
  // trim took those already
  char* end = nullptr;
  v = std::isspace(static_cast<unsigned char>(s[0])) ? 0.0 : std::strtod(s, &end);
  if (end == s + t.size()) return num_kind::ok;
  size_t comma = t.find(',');
  if (comma != std::string_view::npos) {
    std::string_view a = t.substr(0, comma), b = t.substr(comma + 1);
    if (!a.empty() && (a[0] == '-' || a[0] == '+')) a.remove_prefix(1);
    if (digits(a) && digits(b)) return num_kind::comma;
  }
  return num_kind::bad;
}

bool count_field(std::string_view f, bool last, int64_t max, int64_t& v) {
  if (last && !f.empty() && f.back() == '\r') f.remove_suffix(1);
  if (!digits(f) || f.size() > 18) return false;
  int64_t x = 0;
  for (char c : f) x = x * 10 + (c - '0');
  if (x > max) return false;
  v = x;
  return true;
}

std::string num_problem(num_kind k, std::string_view f) {
  switch (k) {
    case num_kind::empty: return "is empty";
    case num_kind::comma: return show_field(f) + " is not a number (decimal comma? use a point)";
    default: return show_field(f) + " is not a number";
  }
}

// ---- expression table ------------------------------------------------------------

namespace {

// Cut the line into fields in place: every tab becomes a NUL, so each field is
// a C string for the conversions. A line with k tabs has k + 1 fields.
void split(std::string& line, std::vector<const char*>& f) {
  f.clear();
  char* s = &line[0];
  f.push_back(s);
  for (size_t i = 0; i < line.size(); ++i)
    if (s[i] == '\t') {
      s[i] = '\0';
      f.push_back(s + i + 1);
    }
}

// Length of field k of a line split in place: up to the next field or the end.
size_t flen(const std::vector<const char*>& f, size_t k, const std::string& line) {
  const char* end = k + 1 < f.size() ? f[k + 1] - 1 : line.data() + line.size();
  return static_cast<size_t>(end - f[k]);
}

std::string where(const char* path, int64_t line) { return std::string(path) + ":" + std::to_string(line) + ": "; }

// Calls tick every so many lines; reading a large table takes seconds.
constexpr int64_t TICK_LINES = 4096;

}  // namespace

int to_int(const char* s) {
  long v = std::strtol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

void read_exp(const char* path, const load_tick& tick) {
  line_src in(path);
  std::string line;
  std::vector<const char*> f;
  n_line = 0;
  if (!in.next(line)) return;  // empty file: no header, no labels
  n_line = 1;
  // with a sample sheet: the header names the samples, the sheet labels them,
  // and `keep` holds the field of each sample kept
  std::vector<int> keep;
  const bool sheet = !pheno.sheet.empty();
  if (sheet) {
    sheet_tab t = read_sheet();
    keep = header_labels(path, line, t);
    samp_field = keep;
    sheet_names(t);
  } else if (in.next(line)) {
    n_line = 2;
    split(line, f);
    for (size_t k = 1; k < f.size(); ++k) {
      std::string_view t = trim(std::string_view(f[k], flen(f, k, line)), k + 1 == f.size());
      if (t != "0" && t != "1") {
        std::string why = t.empty() ? std::string("is empty") : "is " + show_field(t);
        std::string hint = t.empty() && k + 1 == f.size() ? " (a tab at the end of the line?)"
                           : t.find_first_of(" ,;") != std::string_view::npos ? " (is the table tab-separated?)"
                                                                                : "";
        throw syn_error(where(path, 2) + "label of sample " + std::to_string(k - 1) + " (field " +
                        std::to_string(k + 1) + ") " + why + ", expected 0 or 1" + hint);
      }
      phe.push_back(t[0] - '0');
    }
  }
  n_samp = static_cast<int>(phe.size());
  n_prob = 0;
  const size_t ns = static_cast<size_t>(n_samp);
  while (in.next(line)) {
    ++n_line;
    if (tick && n_line % TICK_LINES == 0) tick(in.pos(), in.size());
    if (line.size() < 2) continue;
    if (n_prob == INT_MAX) throw syn_error(where(path, n_line) + "more than 2^31 - 1 probe rows");
    // the name may hold a NUL byte; keep it whole, as a string copy would
    size_t tab = line.find('\t');
    probe.emplace_back(line, 0, tab == std::string::npos ? line.size() : tab);
    split(line, f);
    std::vector<double> row;
    row.reserve(sheet ? ns : f.size() - 1);
    for (size_t j = 0; j < (sheet ? ns : f.size() - 1); ++j) {
      const size_t k = sheet ? static_cast<size_t>(keep[j]) : j + 1;  // the field
      if (k >= f.size()) break;  // a short row: check_exp says so
      if (!sheet && k > ns) {
        // beyond the samples: kept, never read
        row.push_back(std::strtod(f[k], nullptr));
        continue;
      }
      double v = 0.0;
      std::string_view fld(f[k], flen(f, k, line));
      num_kind r = num_field(fld, k + 1 == f.size(), v);
      if (r != num_kind::ok)
        throw syn_error(where(path, n_line) + "probe " + show_field(probe.back()) + ", sample " +
                        std::to_string(j) + " (field " + std::to_string(k + 1) + "): value " +
                        num_problem(r, fld));
      row.push_back(v);
    }
    expr.push_back(std::move(row));
    p_line.push_back(n_line);
    ++n_prob;
  }
  if (tick) tick(in.pos(), in.size());
}

std::string name_fault(const std::string& name) {
  // (a carriage return inside a name reads back: only one ending a line is dropped)
  if (name.find_first_of("\t\n") != std::string::npos) return "the name holds a tab or a line break";
  // a ranked list or record file begins with a probe name, and a file that
  // begins with these two bytes is read as gzip: it would not read back
  if (name.size() >= 2 && static_cast<unsigned char>(name[0]) == 0x1f && static_cast<unsigned char>(name[1]) == 0x8b)
    return "name starts with the bytes of a gzip header (1f 8b); the lists and records that name it first would be "
           "read as gzip";
  return "";
}

std::string scale_why() {
  if (n_prob == 0 || n_samp < 2) return "";
  double lo = expr[0][0], hi = lo;
  bool z = true;
  for (int p = 0; p < n_prob; ++p) {
    double sum = 0.0, sq = 0.0;
    for (int s = 0; s < n_samp; ++s) {
      const double x = expr[p][s];
      lo = std::min(lo, x);
      hi = std::max(hi, x);
      sum += x;
    }
    const double mean = sum / n_samp;
    for (int s = 0; s < n_samp; ++s) sq += (expr[p][s] - mean) * (expr[p][s] - mean);
    // either standard deviation (n or n - 1) near 1
    const double sd_n = std::sqrt(sq / n_samp), sd_1 = std::sqrt(sq / (n_samp - 1));
    if (std::fabs(mean) > 0.05 || (std::fabs(sd_n - 1) > 0.05 && std::fabs(sd_1 - 1) > 0.05)) z = false;
  }
  char buf[96], c[32];
  std::snprintf(buf, sizeof buf, "values run from %g to %g", lo, hi);
  std::snprintf(c, sizeof c, "%g", cut);
  if (hi - lo > SCALE_SPAN || hi > SCALE_TOP)
    return std::string(buf) + ": this looks like linear intensities or counts, not log-scale expression. " +
           "Samples are clustered when their values differ by less than the cut height " + std::string(c) +
           ", in the units of the values: on log2 data about a 4% fold change, here next to nothing, so the "
           "clusters and scores say little. Log-transform the table (log2, or log2(x + 1) for counts) and run "
           "again (-q silences this note)";
  if (z)
    return "every probe has mean near 0 and standard deviation near 1: this looks like z-scores, not "
           "log-scale expression. The cut height " + std::string(c) + " is then " + c +
           " standard deviations of each probe instead of a fixed fold change (about 4% on log2 "
           "data); give the log-scale values from before the standardising (-q silences this note)";
  return "";
}

void check_exp(const char* path) {
  std::string at = std::string(path) + ":";
  if (n_line == 0) throw syn_error(at + " empty file: expected a header line, a label line and probe rows");
  const bool sheet = !pheno.sheet.empty();
  if (n_line < 2 && !sheet) throw syn_error(at + "1: file ends within the header line: no label line");
  if (n_samp < 2)
    throw syn_error(at + (sheet ? "1: " : "2: ") + std::to_string(n_samp) + (n_samp == 1 ? " sample" : " samples") +
                    (sheet ? " labelled by the sample sheet" : " on the label line") +
                    "; a table needs at least 2 (is it tab-separated?)");
  for (int s = 0; s < n_samp; ++s)
    if (phe[s] != 0 && phe[s] != 1)
      throw syn_error(at + "2: label of sample " + std::to_string(s) + " is " + std::to_string(phe[s]) +
                      ", expected 0 or 1");
  for (int p = 0; p < n_prob; ++p) {
    std::string row = at + std::to_string(p_line[p]) + ": probe " + show_field(probe[p]);
    const std::string why = name_fault(probe[p]);
    if (!why.empty()) throw syn_error(row + ": " + why);
    const std::vector<double>& x = expr[p];
    if (static_cast<int64_t>(x.size()) < n_samp)
      throw syn_error(row + " has " + std::to_string(x.size()) + " values, expected " + std::to_string(n_samp) +
                      " (one per label)");
    double lo = 0.0, hi = 0.0;
    for (int s = 0; s < n_samp; ++s) {
      if (!std::isfinite(x[s]))
        throw syn_error(row + ": value of sample " + std::to_string(s) + " is not a finite number");
      if (s == 0 || x[s] < lo) lo = x[s];
      if (s == 0 || x[s] > hi) hi = x[s];
    }
    if (hi - lo >= MAX_SPAN)
      throw syn_error(row + ": values span " + std::to_string(hi - lo) +
                      ", too wide for the clustering (limit 7e6); log-transform the data");
  }
}
