// The column tables of pair_report's exports.
#include "exports.h"

std::vector<int> tsv_cols(bool sig, bool src, bool ps) {
  const std::vector<std::string> names = tsv_names(sig, src, ps);
  std::vector<int> v;
  for (int c = 0, k = 0; c < TC_N && k < static_cast<int>(names.size()); ++c)
    if (names[k] == TSV_COLS[c].name) v.push_back(c), ++k;
  return v;
}

std::vector<std::string> tsv_names(bool sig, bool src, bool ps) {
  return col_names(TSV_COLS, TC_N, [&](char w) {
    return w == 0 || (w == 'g' && sig) || (w == 't' && sig && src) || (w == 's' && sig && ps);
  });
}

std::vector<std::string> edge_names() { return {"source", "target", "base", "final", "q"}; }

std::string tsv_field(const std::string& s) {
  if (s.find('"') == std::string::npos) return s;
  std::string o = "\"";
  for (char c : s) o += c == '"' ? std::string("\"\"") : std::string(1, c);
  return o + "\"";
}
