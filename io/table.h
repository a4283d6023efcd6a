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

// A whole field as a non-negative decimal int / long (digits only); false
// for anything else.
bool to_count(std::string_view f, int& v);
bool to_long(std::string_view f, long& v);
// A whole field as a finite double, no blanks around it; false for anything else.
bool to_real(std::string_view f, double& v);

// A header line: the names joined by tabs, with its newline.
std::string head_line(const std::vector<std::string>& names);

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
