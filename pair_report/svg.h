// svg.h: the two drawings of the report, as inline SVG text.
//
// Pure drawing: values and labels in, markup out. Every text that reaches the
// markup goes through esc(). Colours and line styles come from the classes in
// svg_css(), which the page puts in its <style> once.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Text safe inside HTML and SVG markup: & < > " ' escaped; control characters
// other than the newline, and bytes that are not valid UTF-8, become U+FFFD.
std::string esc(std::string_view s);

// A double in at most `sig` significant digits, as %g writes it.
std::string num(double v, int sig = 6);

// Style rules for the classes the drawings use.
std::string svg_css();

// Histogram. Values above `split` (when has_split) are stacked in the accent
// colour; each mark is a dashed vertical line with its caption.
struct hist_in {
  std::vector<double> v;
  std::string x_lab, y_lab;
  bool has_split = false;
  double split = 0.0;
  std::string lo_lab, hi_lab;  // legend of the two parts when split
  std::vector<std::pair<double, std::string>> marks;
  std::string label;  // accessible name of the figure
};
std::string svg_hist(const hist_in& h);

// Scatter plot of one pair: one point per sample at (x, y), filled by its label
// in the table, ringed when the search flipped it, points of one joint cluster
// (two or more samples) on a shared shaded hull. Hover text: name, label,
// flip, cluster and both values.
struct scat_in {
  const std::vector<double>* x = nullptr;
  const std::vector<double>* y = nullptr;
  const std::vector<int>* lab = nullptr;  // labels in the table
  const std::vector<int>* fin = nullptr;  // labels at the end of the search
  const std::vector<int>* cid = nullptr;  // joint cluster numbers
  const std::vector<std::string>* names = nullptr;
  int n = 0;  // samples (the vectors may hold more values)
  std::string x_lab, y_lab;
  std::string label;
};
std::string svg_scatter(const scat_in& s);

// Base synergy against -log10 p for every distinct pair. Up to PTS_MAX pairs
// are drawn as points; more are binned on a grid of cells shaded by the log
// of their count (passing and other pairs binned apart), so the markup stays
// small whatever the count. The threshold is a dashed line; the top pairs are
// ringed and numbered.
constexpr size_t PTS_MAX = 3000;
struct volc_in {
  std::vector<double> x, y;  // base synergy, -log10 p
  std::vector<char> pass;    // q below the threshold
  bool has_thr = false;
  double thr_y = 0;          // -log10 of the largest passing p
  std::string thr_lab;
  struct mark {
    double x, y;
    std::string num, tip;
  };
  std::vector<mark> top;
  std::string x_lab, y_lab, label;
};
std::string svg_volcano(const volc_in& v);

// Colour class (0 to N_HUE - 1) of each cluster so that clusters near each
// other differ: cluster k (in the given order) takes the hue whose nearest
// cluster already coloured is farthest away (an unused hue first, ties to the
// lower hue). `pts[k]`: the cluster's points in pixels.
constexpr int N_HUE = 8;
std::vector<int> hue_pick(const std::vector<std::vector<std::pair<double, double>>>& pts);
