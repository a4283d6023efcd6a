// Labels from a sample sheet: the sheet reader, and the matching of its
// samples to the names on a table's header line.
#include "sheet.h"

#include <unordered_map>

#include "line_src.h"
#include "synergy.h"

pheno_src pheno;
std::string cls_name[2] = {"label 0", "label 1"};
std::vector<int> samp_field;

namespace {

// Fields of a line split at tabs; the line's final carriage return dropped,
// and one pair of surrounding double quotes (as R's write.table puts them).
std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> f;
  size_t a = 0;
  for (;;) {
    size_t b = line.find('\t', a);
    std::string x = line.substr(a, b == std::string::npos ? std::string::npos : b - a);
    if (b == std::string::npos && !x.empty() && x.back() == '\r') x.pop_back();
    if (x.size() >= 2 && x.front() == '"' && x.back() == '"') x = x.substr(1, x.size() - 2);
    f.push_back(x);
    if (b == std::string::npos) return f;
    a = b + 1;
  }
}

std::string at(const std::string& path, int64_t line) { return path + ":" + std::to_string(line) + ": "; }

}  // namespace

std::string cls_count(long n, int k) {
  return std::to_string(n) + (samp_field.empty() ? " with " : " ") + cls_name[k];
}

std::string pheno_usage() {
  const bool any = !pheno.column.empty() || !pheno.cas.empty() || !pheno.control.empty() || pheno.drop;
  if (pheno.sheet.empty())
    return any ? "--column, --case, --control and --drop-other need --pheno SHEET" : "";
  if (pheno.column.empty() || pheno.cas.empty()) return "--pheno needs --column COL and --case VALUE";
  if (pheno.cas == pheno.control) return "--case and --control are the same value '" + pheno.cas + "'";
  return "";
}

sheet_tab read_sheet() {
  const std::string& path = pheno.sheet;
  line_src in(path.c_str());
  std::string line;
  if (!in.next(line)) throw syn_error(path + ": empty file: expected a header line naming the columns");
  std::vector<std::string> head = fields(line);
  size_t col = 0;
  for (size_t k = 1; k < head.size() && !col; ++k)
    if (head[k] == pheno.column) col = k;
  if (!col) {
    std::string names;
    for (size_t k = 1; k < head.size(); ++k) names += (k > 1 ? ", " : "") + show_field(head[k]);
    throw syn_error(at(path, 1) + "no column " + show_field(pheno.column) + " in the header" +
                    (names.empty() ? std::string(" (one column only: is the sheet tab-separated?)")
                                   : " (its columns after the sample names: " + names + ")"));
  }
  sheet_tab t;
  std::unordered_map<std::string, int64_t> first;
  for (int64_t n = 2; in.next(line); ++n) {
    if (line.empty() || line == "\r") continue;
    std::vector<std::string> f = fields(line);
    if (f.size() <= col)
      throw syn_error(at(path, n) + std::to_string(f.size()) + " fields, but column " +
                      show_field(pheno.column) + " is field " + std::to_string(col + 1));
    auto seen = first.emplace(f[0], n);
    if (!seen.second)
      throw syn_error(at(path, n) + "sample " + show_field(f[0]) + " is listed again (first on line " +
                      std::to_string(seen.first->second) + ")");
    const std::string& v = f[col];
    // an empty or NA value is never a class, not even "every other value"
    int lab = v == pheno.cas                                ? 1
              : v.empty() || v == "NA"                      ? -1
              : pheno.control.empty() || v == pheno.control ? 0
                                                            : -1;
    t.samp.emplace(f[0], sheet_row{lab, n, v});
    if (lab == 0) t.zero_vals.insert(v);
  }
  return t;
}

void sheet_names(const sheet_tab& t) {
  cls_name[1] = pheno.cas;
  if (!pheno.control.empty())
    cls_name[0] = pheno.control;
  else if (t.zero_vals.size() == 1)
    cls_name[0] = *t.zero_vals.begin();
  else
    cls_name[0] = "not " + pheno.cas;
}

namespace {

int sheet_label(const sheet_tab& t, const std::string& table, const std::string& name, size_t field) {
  auto it = t.samp.find(name);
  if (it == t.samp.end())
    throw syn_error(at(table, 1) + "sample " + show_field(name) + " (field " + std::to_string(field) +
                    ") is not in the sample sheet " + pheno.sheet);
  const sheet_row& r = it->second;
  if (r.lab < 0 && !pheno.drop)
    throw syn_error(
        at(pheno.sheet, r.line) + "sample " + show_field(name) + ": " + pheno.column + " is " +
        show_field(r.value) + ", neither --case " + show_field(pheno.cas) +
        (pheno.control.empty() ? std::string("") : " nor --control " + show_field(pheno.control)) +
        " (--drop-other leaves such samples out)");
  return r.lab;
}

}  // namespace

std::vector<int> header_labels(const std::string& table, const std::string& line, const sheet_tab& t) {
  std::vector<std::string> f = fields(line);
  std::vector<int> col;
  std::unordered_map<std::string, size_t> seen;
  for (size_t k = 1; k < f.size(); ++k) {
    auto s = seen.emplace(f[k], k);
    if (!s.second)
      throw syn_error(at(table, 1) + "sample " + show_field(f[k]) + " is named twice (fields " +
                      std::to_string(s.first->second + 1) + " and " + std::to_string(k + 1) + ")");
    int lab = sheet_label(t, table, f[k], k + 1);
    if (lab < 0) continue;
    col.push_back(static_cast<int>(k));
    phe.push_back(lab);
  }
  return col;
}
