// Expression table reader and the input checks both programs run after it.
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "synergy.h"

line_src::line_src(const char* path) : path_(path), buf_(1 << 16) {
  errno = 0;
  gzFile f = gzopen(path, "rb");
  if (!f) throw syn_error(path_ + ": cannot open: " + (errno ? std::strerror(errno) : "out of memory"));
  gzbuffer(f, 1 << 17);
  f_ = f;
}

line_src::~line_src() { gzclose(static_cast<gzFile>(f_)); }

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

}  // namespace

int to_int(const char* s) {
  long v = std::strtol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

void read_exp(const char* path) {
  line_src in(path);
  std::string line;
  std::vector<const char*> f;
  n_line = 0;
  if (!in.next(line)) return;  // empty file: no header, no labels
  n_line = 1;
  if (in.next(line)) {
    n_line = 2;
    split(line, f);
    for (size_t k = 1; k < f.size(); ++k) phe.push_back(to_int(f[k]));
  }
  n_samp = static_cast<int>(phe.size());
  n_prob = 0;
  while (in.next(line)) {
    ++n_line;
    if (line.size() < 2) continue;
    // the name may hold a NUL byte; keep it whole, as a string copy would
    size_t tab = line.find('\t');
    probe.emplace_back(line, 0, tab == std::string::npos ? line.size() : tab);
    split(line, f);
    std::vector<double> row;
    row.reserve(f.size() - 1);
    for (size_t k = 1; k < f.size(); ++k) row.push_back(std::strtod(f[k], nullptr));
    expr.push_back(std::move(row));
    p_line.push_back(n_line);
    ++n_prob;
  }
}

void check_exp(const char* path) {
  std::string at = std::string(path) + ":";
  if (n_line == 0) throw syn_error(at + " empty file: expected a header line, a label line and probe rows");
  if (n_line < 2) throw syn_error(at + "1: file ends within the header line: no label line");
  for (int s = 0; s < n_samp; ++s)
    if (phe[s] != 0 && phe[s] != 1)
      throw syn_error(at + "2: label of sample " + std::to_string(s) + " is " + std::to_string(phe[s]) +
                      ", expected 0 or 1");
  for (int p = 0; p < n_prob; ++p) {
    std::string row = at + std::to_string(p_line[p]) + ": probe '" + probe[p] + "'";
    const std::vector<double>& x = expr[p];
    if (static_cast<int>(x.size()) < n_samp)
      throw syn_error(row + " has " + std::to_string(x.size()) + " values, expected " + std::to_string(n_samp));
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
