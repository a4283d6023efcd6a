// line_src.h: the one line reader of the toolkit, for every text input
// (expression tables, ranked lists, record files), plain or gzip.
//
// Lines are split at '\n' only; a carriage return stays at the end of the
// line for the caller to judge. Line numbers are 64-bit, so a file of more
// than 2^31 lines still names the right line in a message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Lines of a plain or gzip file (detected by content: zlib reads plain files
// as they are). Throws syn_error naming the path when the file cannot be
// opened or read, including a gzip stream that stops early.
class line_src {
 public:
  explicit line_src(const char* path);
  ~line_src();
  line_src(const line_src&) = delete;
  line_src& operator=(const line_src&) = delete;
  // Next line without its newline; false at the end. A final newline does not
  // open another line.
  bool next(std::string& line);
  // 1-based number of the line last returned.
  int64_t line_no() const { return n_; }
  // Whether the line last returned ended with a newline (only the last line
  // of a file can lack one).
  bool had_nl() const { return nl_; }
  // Bytes of the file consumed so far and its size on disk (compressed size
  // for gzip; 0 when unknown), for a progress display.
  uint64_t pos() const;
  uint64_t size() const { return size_; }

 private:
  bool fill();
  std::string path_;
  void* f_ = nullptr;  // gzFile
  std::vector<char> buf_;
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false, nl_ = false;
  int64_t n_ = 0;
  uint64_t size_ = 0;
};

// ---- field rules shared by every reader -------------------------------------
// A field is judged whole: "1e2", "12abc" or " 7" is not a probe number, and
// "4,5" is not a value. `last` says the field ends the line, whose final
// carriage return (Windows line ends) is then allowed.

enum class num_kind { ok, empty, bad, comma };

// A number in full: strtod's syntax with blanks (spaces) around it allowed.
// Sets v and returns ok; else says what is wrong ("4,5" gives comma).
num_kind num_field(std::string_view f, bool last, double& v);

// A count in full: decimal digits only, at most `max`.
bool count_field(std::string_view f, bool last, int64_t max, int64_t& v);

// "is empty", "'abc' is not a number", "... (decimal comma? ...)": the end of
// a message about field f.
std::string num_problem(num_kind k, std::string_view f);

// A field quoted for a message: control characters as \xNN, long fields cut.
std::string show_field(std::string_view f);
