// table.h: what every tab-separated file of the toolkit shares: fields and
// their rules, header lines made from a column table, column lookup by name,
// and the provenance comment lines of the tables written whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The fields of a line, split at every tab (k tabs: k + 1 fields).
void split_tabs(std::string_view s, std::vector<std::string_view>& f);

// A line's final carriage return (Windows line ends) removed.
void drop_cr(std::string& line);

// "FILE:LINE: ", the start of every message about a line.
std::string at_line(const std::string& where, int64_t line);

// A message with a scratch file's path replaced by the name the caller knows
// it by (an R or Python object written to that file); as given when shown ==
// path. For the bindings.
std::string rename_in(std::string msg, const std::string& path, const std::string& shown);

// A whole field as a non-negative decimal int / long (digits only); false
// for anything else.
bool to_count(std::string_view f, int& v);
bool to_long(std::string_view f, long& v);
// A whole field as a finite double, no blanks around it; false for anything else.
bool to_real(std::string_view f, double& v);

// A header line: the names joined by tabs, with its newline.
std::string head_line(const std::vector<std::string>& names);

// One column of a tabular format: its name, when it is there (0: always; a
// letter the format defines for each optional group) and what it holds, for
// the help and the docs.
struct col_def {
  const char* name;
  char when;
  const char* help;
};

// The names of the columns of table[0..n) that `has` keeps, in order.
template <class Keep>
std::vector<std::string> col_names(const col_def* table, int n, Keep has) {
  std::vector<std::string> v;
  for (int c = 0; c < n; ++c)
    if (has(table[c].when)) v.push_back(table[c].name);
  return v;
}

// Throws syn_error "<row>probe 'NAME': why" when a probe name could not be
// written and read back the same (name_fault): the writers' check.
void want_name(const std::string& row, const std::string& name);

// ---- provenance --------------------------------------------------------------------
// A table written whole (the significance table, the report's exports) starts
// with comment lines "# ..." that say how it was made; every reader skips the
// comment lines before the header. The ranked list and the record file have
// none (their bytes are fixed).

struct prov {
  std::string version;                                    // "pair_signif 1.0.0"
  std::string command;                                    // the command line, shell-quoted
  std::vector<std::pair<std::string, std::string>> more;  // ("seed", "1"), ("perm", "1000"), ...
};

// "# VERSION\n# command: COMMAND\n# KEY: VALUE\n"...; an empty part is left
// out (a default prov gives ""). Line breaks inside a value become blanks.
std::string prov_text(const prov& p);

// Whether a line is a comment line of the provenance.
inline bool is_comment(std::string_view line) { return !line.empty() && line[0] == '#'; }
