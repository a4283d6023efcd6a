// The column tables of pair_report's exports.
#include "exports.h"

std::vector<int> tsv_cols(bool sig, bool src, bool ps) {
  std::vector<int> v;
  for (int c = 0; c < TC_N; ++c) {
    const char w = TSV_COLS[c].when;
    if (w == 0 || (w == 'g' && sig) || (w == 't' && sig && src) || (w == 's' && sig && ps)) v.push_back(c);
  }
  return v;
}

std::vector<std::string> tsv_names(bool sig, bool src, bool ps) {
  std::vector<std::string> v;
  for (int c : tsv_cols(sig, src, ps)) v.push_back(TSV_COLS[c].name);
  return v;
}

std::vector<std::string> edge_names() { return {"source", "target", "base", "final", "q"}; }

std::string tsv_field(const std::string& s) {
  if (s.find('"') == std::string::npos) return s;
  std::string o = "\"";
  for (char c : s) o += c == '"' ? std::string("\"\"") : std::string(1, c);
  return o + "\"";
}
