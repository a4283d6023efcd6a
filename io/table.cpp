// Fields, header lines and provenance of the tab-separated files.
#include "table.h"

#include <cmath>

#include "line_src.h"
#include "synergy.h"

void split_tabs(std::string_view s, std::vector<std::string_view>& f) {
  f.clear();
  size_t b = 0;
  for (;;) {
    size_t t = s.find('\t', b);
    if (t == std::string_view::npos) {
      f.push_back(s.substr(b));
      return;
    }
    f.push_back(s.substr(b, t - b));
    b = t + 1;
  }
}

void drop_cr(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

std::string at_line(const std::string& where, int64_t line) {
  return where + ":" + std::to_string(line) + ": ";
}

std::string rename_in(std::string msg, const std::string& path, const std::string& shown) {
  if (path.empty() || path == shown) return msg;
  for (size_t at = msg.find(path); at != std::string::npos; at = msg.find(path, at + shown.size()))
    msg.replace(at, path.size(), shown);
  return msg;
}

bool to_count(std::string_view f, int& v) {
  int64_t x = 0;
  if (!count_field(f, false, INT32_MAX, x)) return false;
  v = static_cast<int>(x);
  return true;
}

bool to_long(std::string_view f, long& v) {
  int64_t x = 0;
  if (f.size() > 18 || !count_field(f, false, INT64_MAX, x)) return false;
  v = static_cast<long>(x);
  return true;
}

bool to_real(std::string_view f, double& v) {
  if (f.empty() || f.front() == ' ' || f.back() == ' ') return false;
  return num_field(f, false, v) == num_kind::ok && std::isfinite(v);
}

std::string head_line(const std::vector<std::string>& names) {
  std::string s;
  for (size_t k = 0; k < names.size(); ++k) s += (k ? "\t" : "") + names[k];
  return s + "\n";
}

void want_name(const std::string& row, const std::string& name) {
  const std::string why = name_fault(name);
  if (!why.empty()) throw syn_error(row + "probe " + show_field(name) + ": " + why);
}

std::string prov_text(const prov& p) {
  auto one = [](std::string v) {
    for (char& c : v)
      if (c == '\n' || c == '\r') c = ' ';
    return v;
  };
  std::string s;
  if (!p.version.empty()) s += "# " + one(p.version) + "\n";
  if (!p.command.empty()) s += "# command: " + one(p.command) + "\n";
  for (const auto& kv : p.more) s += "# " + one(kv.first) + ": " + one(kv.second) + "\n";
  return s;
}
