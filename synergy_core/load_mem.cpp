// Loading a table that is already in memory (a matrix from R, say): the same
// state and the same checks as load_exp, with messages that name the row and
// column of the matrix instead of a file line.
#include <cmath>

#include "fast.h"
#include "synergy.h"

namespace {

std::string quoted(const std::string& name) { return "'" + name + "'"; }

}  // namespace

void load_mem(const char* src, const std::vector<std::string>& names, const std::vector<int>& labels,
              const double* x) {
  reset_exp();
  const std::string at = std::string(src) + ": ";
  const int rows = static_cast<int>(names.size());
  const int cols = static_cast<int>(labels.size());
  // the labels first, as the file check does; columns and rows count from 1
  if (cols < 2)
    throw syn_error("labels: " + std::to_string(cols) + (cols == 1 ? " sample" : " samples") +
                    "; a table needs at least 2");
  for (int s = 0; s < cols; ++s)
    if (labels[s] != 0 && labels[s] != 1)
      throw syn_error("labels: label of column " + std::to_string(s + 1) + " is " + std::to_string(labels[s]) +
                      ", expected 0 or 1");
  for (int p = 0; p < rows; ++p) {
    const std::string row = at + "row " + std::to_string(p + 1) + ": probe " + quoted(names[p]);
    // the rule of the table files, so that the written files read back
    const std::string why = name_fault(names[p]);
    if (!why.empty()) throw syn_error(row + ": " + why);
    double lo = 0.0, hi = 0.0;
    for (int s = 0; s < cols; ++s) {
      double v = x[p + static_cast<size_t>(s) * rows];
      if (!std::isfinite(v))
        throw syn_error(row + ": value in column " + std::to_string(s + 1) + " is not a finite number");
      if (s == 0 || v < lo) lo = v;
      if (s == 0 || v > hi) hi = v;
    }
    if (hi - lo >= MAX_SPAN)
      throw syn_error(row + ": values span " + std::to_string(hi - lo) +
                      ", too wide for the clustering (limit 7e6); log-transform the data");
  }
  probe = names;
  phe = labels;
  n_samp = cols;
  n_prob = rows;
  expr.assign(rows, std::vector<double>(cols));
  for (int p = 0; p < rows; ++p)
    for (int s = 0; s < cols; ++s) expr[p][s] = x[p + static_cast<size_t>(s) * rows];
  // as if a header line and a label line came before the rows
  p_line.resize(rows);
  for (int p = 0; p < rows; ++p) p_line[p] = p + 3;
  n_line = rows + 2;
  init_work();
  tab_init();
}
