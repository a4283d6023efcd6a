// Inline SVG drawings: histogram and pair scatter plot.
#include "svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sheet.h"

namespace {

// Colour-blind safe pair for the two labels, and the accent of the histograms.
const char* const CSS = R"(svg.fig{font:12px system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;background:#fff}
svg.fig text{fill:#333}
svg.fig .grid{stroke:#e6e6e6;stroke-width:1}
svg.fig .axis{stroke:#888;stroke-width:1;fill:none}
svg.fig .tick{fill:#666;font-size:11px}
svg.fig .alab{font-size:13px;font-weight:600;fill:#222}
svg.fig .l0{fill:#0072b2}
svg.fig .l1{fill:#d55e00}
svg.fig .ring{fill:none;stroke:#111;stroke-width:1.5}
svg.fig .cl{opacity:.26}
svg.fig .cl polygon{stroke-linejoin:round}
svg.fig .c0 polygon{fill:#88ccee;stroke:#88ccee}
svg.fig .c1 polygon{fill:#999933;stroke:#999933}
svg.fig .c2 polygon{fill:#aa4499;stroke:#aa4499}
svg.fig .c3 polygon{fill:#44aa99;stroke:#44aa99}
svg.fig .c4 polygon{fill:#ddcc77;stroke:#ddcc77}
svg.fig .c5 polygon{fill:#332288;stroke:#332288}
svg.fig .c6 polygon{fill:#cc6677;stroke:#cc6677}
svg.fig .c7 polygon{fill:#117733;stroke:#117733}
svg.fig .vp{fill:#8a9bb5;opacity:.55}
svg.fig .vq{fill:#009e73;opacity:.8}
svg.fig .d1{opacity:.25}svg.fig .d2{opacity:.45}svg.fig .d3{opacity:.65}svg.fig .d4{opacity:.85}svg.fig .d5{opacity:1}
svg.fig .vt{fill:none;stroke:#111;stroke-width:1.6}
svg.fig .vn{font-size:11px;font-weight:600;fill:#111;paint-order:stroke;stroke:#fff;stroke-width:3px}
svg.fig .bar{fill:#8a9bb5}
svg.fig .bar2{fill:#009e73}
svg.fig .mark{stroke:#222;stroke-width:1.3;stroke-dasharray:5 3}
svg.fig .mtxt{font-size:11px;fill:#222}
svg.fig .empty{fill:#888;font-style:italic}
)";

std::string fix(double v, int dec) {
  if (std::fabs(v) < 1e-12) v = 0.0;  // no "-0.00" on an axis
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", dec, v);
  return b;
}

// Pixel coordinate: one decimal is finer than any screen.
std::string px(double v) { return fix(v, 1); }

// 1, 2 or 5 times a power of ten, near range / target.
double nice_step(double range, int target) {
  double raw = range / target;
  double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double f = raw / mag;
  double m = f < 1.5 ? 1.0 : f < 3.0 ? 2.0 : f < 7.0 ? 5.0 : 10.0;
  return m * mag;
}

int step_dec(double step) { return std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9))); }

// Ticks at multiples of step within [lo, hi].
std::vector<double> ticks(double lo, double hi, double step) {
  std::vector<double> t;
  double k0 = std::ceil(lo / step - 1e-9);
  for (double k = k0; k * step <= hi + step * 1e-9; k += 1.0) t.push_back(k * step);
  return t;
}

struct frame {
  double w, h, l, r, t, b;
  double pw() const { return w - l - r; }
  double ph() const { return h - t - b; }
};

std::string open_svg(const frame& f, const std::string& cls, const std::string& label) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"fig " + cls + "\" viewBox=\"0 0 " + px(f.w) + " " +
         px(f.h) + "\" width=\"" + px(f.w) + "\" height=\"" + px(f.h) + "\" role=\"img\" aria-label=\"" + esc(label) +
         "\">\n";
}

// Axis lines, ticks, grid and axis captions for the data box [x0,x1] x [y0,y1].
void axes(std::string& o, const frame& f, double x0, double x1, double y0, double y1, double xs, double ys,
          const std::string& xl, const std::string& yl, bool xgrid) {
  auto X = [&](double v) { return f.l + (v - x0) / (x1 - x0) * f.pw(); };
  auto Y = [&](double v) { return f.t + f.ph() - (v - y0) / (y1 - y0) * f.ph(); };
  const double bot = f.t + f.ph(), rt = f.l + f.pw();
  int xd = step_dec(xs), yd = step_dec(ys);
  for (double v : ticks(x0, x1, xs)) {
    double x = X(v);
    if (xgrid) o += "<line class=\"grid\" x1=\"" + px(x) + "\" y1=\"" + px(f.t) + "\" x2=\"" + px(x) + "\" y2=\"" + px(bot) + "\"/>";
    o += "<line class=\"axis\" x1=\"" + px(x) + "\" y1=\"" + px(bot) + "\" x2=\"" + px(x) + "\" y2=\"" + px(bot + 4) + "\"/>";
    o += "<text class=\"tick\" x=\"" + px(x) + "\" y=\"" + px(bot + 17) + "\" text-anchor=\"middle\">" + fix(v, xd) + "</text>\n";
  }
  for (double v : ticks(y0, y1, ys)) {
    double y = Y(v);
    o += "<line class=\"grid\" x1=\"" + px(f.l) + "\" y1=\"" + px(y) + "\" x2=\"" + px(rt) + "\" y2=\"" + px(y) + "\"/>";
    o += "<line class=\"axis\" x1=\"" + px(f.l - 4) + "\" y1=\"" + px(y) + "\" x2=\"" + px(f.l) + "\" y2=\"" + px(y) + "\"/>";
    o += "<text class=\"tick\" x=\"" + px(f.l - 7) + "\" y=\"" + px(y + 4) + "\" text-anchor=\"end\">" + fix(v, yd) + "</text>\n";
  }
  o += "<path class=\"axis\" d=\"M" + px(f.l) + " " + px(f.t) + "V" + px(bot) + "H" + px(rt) + "\"/>\n";
  o += "<text class=\"alab\" x=\"" + px(f.l + f.pw() / 2) + "\" y=\"" + px(f.h - 10) + "\" text-anchor=\"middle\">" + esc(xl) + "</text>\n";
  o += "<text class=\"alab\" transform=\"translate(16 " + px(f.t + f.ph() / 2) + ") rotate(-90)\" text-anchor=\"middle\">" +
       esc(yl) + "</text>\n";
}

// Convex hull (monotone chain), counter-clockwise, without repeated points.
std::vector<std::pair<double, double>> hull(std::vector<std::pair<double, double>> p) {
  std::sort(p.begin(), p.end());
  p.erase(std::unique(p.begin(), p.end()), p.end());
  if (p.size() < 3) return p;
  auto cross = [](const std::pair<double, double>& o, const std::pair<double, double>& a,
                  const std::pair<double, double>& b) {
    return (a.first - o.first) * (b.second - o.second) - (a.second - o.second) * (b.first - o.first);
  };
  std::vector<std::pair<double, double>> h(2 * p.size());
  size_t k = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
    h[k++] = p[i];
  }
  for (size_t i = p.size() - 1, t = k + 1; i > 0; --i) {
    while (k >= t && cross(h[k - 2], h[k - 1], p[i - 1]) <= 0) --k;
    h[k++] = p[i - 1];
  }
  h.resize(k - 1);
  return h;
}

void legend_dot(std::string& o, double& x, double y, const std::string& shape, const std::string& text) {
  o += shape;
  o += "<text x=\"" + px(x + 10) + "\" y=\"" + px(y + 4) + "\">" + esc(text) + "</text>";
  x += 24 + 6.2 * static_cast<double>(text.size());
}

}  // namespace

std::string esc(std::string_view s) {
  static const char* const bad = "\xEF\xBF\xBD";
  std::string o;
  o.reserve(s.size());
  const size_t n = s.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '&': o += "&amp;"; break;
        case '<': o += "&lt;"; break;
        case '>': o += "&gt;"; break;
        case '"': o += "&quot;"; break;
        case '\'': o += "&#39;"; break;
        default:
          if ((c < 0x20 && c != '\n') || c == 0x7f)
            o += bad;
          else
            o += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // a well-formed UTF-8 sequence passes whole; anything else is one bad byte
    size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool ok = len != 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      unsigned char lo = 0x80, hi = 0xBF;
      if (k == 1) {
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
      }
      ok = d >= lo && d <= hi;
    }
    if (ok) {
      o.append(s.data() + i, len);
      i += len;
    } else {
      o += bad;
      ++i;
    }
  }
  return o;
}

std::string num(double v, int sig) {
  if (v == 0.0) v = 0.0;  // -0 prints as 0
  char b[64];
  std::snprintf(b, sizeof b, "%.*g", sig, v);
  return b;
}

std::string svg_css() { return CSS; }

std::string svg_hist(const hist_in& h) {
  const frame f{560, 300, 62, 20, 44, 50};
  std::string o = open_svg(f, "hist", h.label);
  if (h.v.empty()) {
    o += "<text class=\"empty\" x=\"" + px(f.w / 2) + "\" y=\"" + px(f.h / 2) + "\" text-anchor=\"middle\">no values</text></svg>\n";
    return o;
  }
  double lo = *std::min_element(h.v.begin(), h.v.end());
  double hi = *std::max_element(h.v.begin(), h.v.end());
  for (const auto& m : h.marks) {
    lo = std::min(lo, m.first);
    hi = std::max(hi, m.first);
  }
  if (hi - lo < 1e-9) {
    double pad = std::max(std::fabs(lo) * 0.05, 0.05);
    lo -= pad;
    hi += pad;
  }
  const double step = nice_step(hi - lo, 30);
  const double b0 = std::floor(lo / step) * step;
  int nb = std::max(1, static_cast<int>(std::ceil((hi - b0) / step)));
  if (b0 + nb * step <= hi) ++nb;  // the largest value sits inside the last bin
  std::vector<long> c1(nb, 0), c2(nb, 0);
  for (double v : h.v) {
    int k = static_cast<int>(std::floor((v - b0) / step));
    k = std::min(std::max(k, 0), nb - 1);
    if (h.has_split && v > h.split)
      ++c2[k];
    else
      ++c1[k];
  }
  long cmax = 1;
  for (int k = 0; k < nb; ++k) cmax = std::max(cmax, c1[k] + c2[k]);
  const double x0 = b0, x1 = b0 + nb * step;
  const double ys = std::max(1.0, nice_step(static_cast<double>(cmax), 4));
  const double y1 = std::ceil(static_cast<double>(cmax) / ys) * ys;
  axes(o, f, x0, x1, 0.0, y1, nice_step(x1 - x0, 6), ys, h.x_lab, h.y_lab, false);
  auto X = [&](double v) { return f.l + (v - x0) / (x1 - x0) * f.pw(); };
  auto Y = [&](double v) { return f.t + f.ph() - v / y1 * f.ph(); };
  const int dec = step_dec(step);
  for (int k = 0; k < nb; ++k) {
    if (c1[k] + c2[k] == 0) continue;
    double xa = X(b0 + k * step) + 0.5, xb = X(b0 + (k + 1) * step) - 0.5;
    std::string tip = fix(b0 + k * step, dec) + " to " + fix(b0 + (k + 1) * step, dec) + ": " +
                      std::to_string(c1[k] + c2[k]) + " " + h.y_lab;
    if (h.has_split && c2[k] > 0) tip += " (" + std::to_string(c2[k]) + " " + h.hi_lab + ")";
    o += "<g><title>" + esc(tip) + "</title>";
    if (c1[k] > 0)
      o += "<rect class=\"bar\" x=\"" + px(xa) + "\" y=\"" + px(Y(static_cast<double>(c1[k]))) + "\" width=\"" +
           px(xb - xa) + "\" height=\"" + px(Y(0) - Y(static_cast<double>(c1[k]))) + "\"/>";
    if (c2[k] > 0)
      o += "<rect class=\"bar2\" x=\"" + px(xa) + "\" y=\"" + px(Y(static_cast<double>(c1[k] + c2[k]))) +
           "\" width=\"" + px(xb - xa) + "\" height=\"" + px(Y(static_cast<double>(c1[k])) - Y(static_cast<double>(c1[k] + c2[k]))) + "\"/>";
    o += "</g>\n";
  }
  for (const auto& m : h.marks) {
    double x = X(m.first);
    bool right = x > f.l + f.pw() * 0.6;
    o += "<line class=\"mark\" x1=\"" + px(x) + "\" y1=\"" + px(f.t - 6) + "\" x2=\"" + px(x) + "\" y2=\"" + px(Y(0)) + "\"/>";
    o += "<text class=\"mtxt\" x=\"" + px(right ? x - 5 : x + 5) + "\" y=\"" + px(f.t - 8) + "\" text-anchor=\"" +
         (right ? "end" : "start") + "\">" + esc(m.second) + "</text>\n";
  }
  if (h.has_split) {
    double x = f.l + 6, y = 14;
    legend_dot(o, x, y, "<rect class=\"bar\" x=\"" + px(x - 5) + "\" y=\"" + px(y - 5) + "\" width=\"10\" height=\"10\"/>", h.lo_lab);
    legend_dot(o, x, y, "<rect class=\"bar2\" x=\"" + px(x - 5) + "\" y=\"" + px(y - 5) + "\" width=\"10\" height=\"10\"/>", h.hi_lab);
  }
  o += "</svg>\n";
  return o;
}

std::string svg_scatter(const scat_in& s) {
  const frame f{560, 540, 72, 20, 56, 52};
  std::string o = open_svg(f, "scatter", s.label);
  const int n = s.n;
  const std::vector<double>& xv = *s.x;
  const std::vector<double>& yv = *s.y;
  double xa = 0, xb = 1, ya = 0, yb = 1;
  if (n > 0) {
    xa = xb = xv[0];
    ya = yb = yv[0];
    for (int k = 1; k < n; ++k) {
      xa = std::min(xa, xv[k]);
      xb = std::max(xb, xv[k]);
      ya = std::min(ya, yv[k]);
      yb = std::max(yb, yv[k]);
    }
  }
  auto pad = [](double& a, double& b) {
    double d = b - a;
    if (d < 1e-9) d = std::max(std::fabs(a) * 0.1, 0.5);
    a -= d * 0.05;
    b += d * 0.05;
  };
  pad(xa, xb);
  pad(ya, yb);
  axes(o, f, xa, xb, ya, yb, nice_step(xb - xa, 6), nice_step(yb - ya, 6), s.x_lab, s.y_lab, true);
  auto X = [&](double v) { return f.l + (v - xa) / (xb - xa) * f.pw(); };
  auto Y = [&](double v) { return f.t + f.ph() - (v - ya) / (yb - ya) * f.ph(); };

  // dense plots get small points and no white edge, so 2000 samples stay apart
  const double r = n <= 150 ? 4.5 : n <= 600 ? 3.2 : 2.2;
  const std::vector<int>& lab = *s.lab;
  const std::vector<int>& fin = *s.fin;
  const std::vector<int>& cid = *s.cid;

  // joint clusters of two or more samples: a shaded hull wide enough to hold its points
  int n_cid = 0;
  for (int k = 0; k < n; ++k) n_cid = std::max(n_cid, cid[k] + 1);
  std::vector<std::vector<int>> mem(static_cast<size_t>(n_cid));
  for (int k = 0; k < n; ++k) mem[cid[k]].push_back(k);
  // clusters near each other get hues that differ
  std::vector<int> hue(static_cast<size_t>(n_cid), 0);
  {
    std::vector<int> multi;
    std::vector<std::vector<std::pair<double, double>>> pts;
    for (int c = 0; c < n_cid; ++c) {
      if (mem[c].size() < 2) continue;
      multi.push_back(c);
      pts.emplace_back();
      for (int k : mem[c]) pts.back().emplace_back(X(xv[k]), Y(yv[k]));
    }
    std::vector<int> h = hue_pick(pts);
    for (size_t j = 0; j < multi.size(); ++j) hue[multi[j]] = h[j];
  }
  int n_multi = 0;
  for (int c = 0; c < n_cid; ++c) {
    if (mem[c].size() < 2) continue;
    ++n_multi;
    std::vector<std::pair<double, double>> p;
    int ones = 0;
    for (int k : mem[c]) {
      p.emplace_back(std::round(X(xv[k]) * 10) / 10, std::round(Y(yv[k]) * 10) / 10);
      ones += lab[k];
    }
    std::vector<std::pair<double, double>> hl = hull(std::move(p));
    std::string pts;
    for (const auto& q : hl) pts += px(q.first) + "," + px(q.second) + " ";
    if (hl.size() == 1) pts += px(hl[0].first + 0.1) + "," + px(hl[0].second) + " ";  // all at one spot
    pts.pop_back();
    std::string tip = "joint cluster " + std::to_string(c) + ": " + std::to_string(mem[c].size()) + " samples, " +
                      cls_count(ones, 1) + ", " + cls_count(static_cast<long>(mem[c].size()) - ones, 0);
    o += "<g class=\"cl c" + std::to_string(hue[c]) + "\"><title>" + esc(tip) + "</title><polygon stroke-width=\"" + px(2 * r + (n > 600 ? 4 : 8)) + "\" points=\"" +
         pts + "\"/></g>\n";
  }

  // flipped samples last, so their rings lie on top
  int n_fl = 0, n1 = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (int k = 0; k < n; ++k) {
      bool fl = fin[k] != lab[k];
      if (fl != (pass == 1)) continue;
      if (pass == 0) n1 += lab[k];
      n_fl += fl;
      std::string tip = (*s.names)[k] + "\nlabel " + std::to_string(lab[k]) +
                        (fl ? ", flipped to " + std::to_string(fin[k]) + " by the search" : "") + "\njoint cluster " +
                        std::to_string(cid[k]) + " (" + std::to_string(mem[cid[k]].size()) +
                        (mem[cid[k]].size() == 1 ? " sample)" : " samples)") + "\n" + s.x_lab + ": " +
                        num(xv[k], 5) + "\n" + s.y_lab + ": " + num(yv[k], 5);
      std::string cx = px(X(xv[k])), cy = px(Y(yv[k]));
      o += "<g><title>" + esc(tip) + "</title><circle class=\"l" + std::to_string(lab[k]) + "\" cx=\"" + cx +
           "\" cy=\"" + cy + "\" r=\"" + px(r) + "\"/>";
      if (fl) o += "<circle class=\"ring\" cx=\"" + cx + "\" cy=\"" + cy + "\" r=\"" + px(r + 2.8) + "\"/>";
      o += "</g>\n";
    }
  n1 = 0;
  for (int k = 0; k < n; ++k) n1 += lab[k];

  double x = f.l + 6, y = 16;
  legend_dot(o, x, y, "<circle class=\"l0\" cx=\"" + px(x) + "\" cy=\"" + px(y) + "\" r=\"4.5\"/>",
             cls_name[0] + " (" + std::to_string(n - n1) + ")");
  legend_dot(o, x, y, "<circle class=\"l1\" cx=\"" + px(x) + "\" cy=\"" + px(y) + "\" r=\"4.5\"/>",
             cls_name[1] + " (" + std::to_string(n1) + ")");
  legend_dot(o, x, y,
             "<circle class=\"l0\" cx=\"" + px(x) + "\" cy=\"" + px(y) + "\" r=\"3\"/><circle class=\"ring\" cx=\"" + px(x) +
                 "\" cy=\"" + px(y) + "\" r=\"5.8\"/>",
             "flipped (" + std::to_string(n_fl) + ")");
  legend_dot(o, x, y,
             "<g class=\"cl c0\"><polygon stroke-width=\"8\" points=\"" + px(x - 2) + "," + px(y) + " " + px(x + 2) + "," +
                 px(y) + "\"/></g>",
             "joint cluster (" + std::to_string(n_multi) + ")");
  o += "</svg>\n";
  return o;
}

std::vector<int> hue_pick(const std::vector<std::vector<std::pair<double, double>>>& pts) {
  const size_t n = pts.size();
  std::vector<int> hue(n, 0);
  auto gap = [&](size_t a, size_t b) {
    double m = 1e300;
    for (const auto& p : pts[a])
      for (const auto& q : pts[b]) m = std::min(m, std::hypot(p.first - q.first, p.second - q.second));
    return m;
  };
  for (size_t k = 0; k < n; ++k) {
    std::vector<double> near(N_HUE, 1e300);  // per hue: the nearest cluster of it so far
    for (size_t j = 0; j < k; ++j) near[hue[j]] = std::min(near[hue[j]], gap(k, j));
    int best = 0;
    for (int h = 1; h < N_HUE; ++h)
      if (near[h] > near[best]) best = h;
    hue[k] = best;
  }
  return hue;
}

std::string svg_volcano(const volc_in& v) {
  const frame f{540, 400, 62, 24, 40, 50};
  std::string o = open_svg(f, "volcano", v.label);
  const size_t n = v.x.size();
  if (n == 0) {
    o += "<text class=\"empty\" x=\"" + px(f.w / 2) + "\" y=\"" + px(f.h / 2) + "\" text-anchor=\"middle\">no pairs</text></svg>\n";
    return o;
  }
  double xa = v.x[0], xb = v.x[0], yb = v.y[0];
  for (size_t k = 0; k < n; ++k) {
    xa = std::min(xa, v.x[k]);
    xb = std::max(xb, v.x[k]);
    yb = std::max(yb, v.y[k]);
  }
  if (v.has_thr) yb = std::max(yb, v.thr_y);
  if (xb - xa < 1e-9) {
    xa -= 0.05;
    xb += 0.05;
  }
  const double dx = xb - xa;
  xa -= dx * 0.03;
  xb += dx * 0.03;
  double ya = 0;
  yb = yb < 1e-9 ? 1.0 : yb * 1.06;
  axes(o, f, xa, xb, ya, yb, nice_step(xb - xa, 6), nice_step(yb - ya, 5), v.x_lab, v.y_lab, true);
  auto X = [&](double a) { return f.l + (a - xa) / (xb - xa) * f.pw(); };
  auto Y = [&](double a) { return f.t + f.ph() - (a - ya) / (yb - ya) * f.ph(); };
  if (n <= PTS_MAX) {
    // failing pairs first, so passing ones lie on top
    for (int pass = 0; pass < 2; ++pass)
      for (size_t k = 0; k < n; ++k)
        if ((v.pass[k] != 0) == (pass == 1))
          o += "<circle class=\"" + std::string(pass ? "vq" : "vp") + "\" cx=\"" + px(X(v.x[k])) + "\" cy=\"" +
               px(Y(v.y[k])) + "\" r=\"2.6\"/>";
    o += "\n";
  } else {
    // cells of 4 x 4 pixels; a row's run of cells with one shade is one rect
    const double cs = 4.0;
    const int nx = static_cast<int>(std::ceil(f.pw() / cs)), ny = static_cast<int>(std::ceil(f.ph() / cs));
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<long> cnt(static_cast<size_t>(nx) * ny, 0);
      long cmax = 1;
      for (size_t k = 0; k < n; ++k) {
        if ((v.pass[k] != 0) != (pass == 1)) continue;
        int i = std::min(nx - 1, std::max(0, static_cast<int>((X(v.x[k]) - f.l) / cs)));
        int j = std::min(ny - 1, std::max(0, static_cast<int>((Y(v.y[k]) - f.t) / cs)));
        cmax = std::max(cmax, ++cnt[static_cast<size_t>(j) * nx + i]);
      }
      const double lm = std::log(static_cast<double>(cmax) + 1.0);
      auto shade = [&](long c) {
        return c == 0 ? 0 : 1 + std::min(4, static_cast<int>(4.0 * std::log(static_cast<double>(c) + 1.0) / lm));
      };
      o += "<g class=\"" + std::string(pass ? "vq" : "vp") + "\">";
      for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx;) {
          int d = shade(cnt[static_cast<size_t>(j) * nx + i]);
          int e = i + 1;
          while (e < nx && shade(cnt[static_cast<size_t>(j) * nx + e]) == d) ++e;
          if (d > 0)
            o += "<rect class=\"d" + std::to_string(d) + "\" x=\"" + px(f.l + i * cs) + "\" y=\"" + px(f.t + j * cs) +
                 "\" width=\"" + px((e - i) * cs) + "\" height=\"" + px(cs) + "\"/>";
          i = e;
        }
      o += "</g>\n";
    }
  }
  if (v.has_thr) {
    double y = Y(v.thr_y);
    o += "<line class=\"mark\" x1=\"" + px(f.l) + "\" y1=\"" + px(y) + "\" x2=\"" + px(f.l + f.pw()) + "\" y2=\"" + px(y) +
         "\"/><text class=\"mtxt\" x=\"" + px(f.l + f.pw() - 4) + "\" y=\"" + px(y - 5) + "\" text-anchor=\"end\">" +
         esc(v.thr_lab) + "</text>\n";
  }
  for (const auto& m : v.top) {
    std::string cx = px(X(m.x)), cy = px(Y(m.y));
    o += "<g><title>" + esc(m.tip) + "</title><circle class=\"vt\" cx=\"" + cx + "\" cy=\"" + cy +
         "\" r=\"5\"/>";
    if (!m.num.empty())
      o += "<text class=\"vn\" x=\"" + px(X(m.x) + 7) + "\" y=\"" + px(Y(m.y) - 5) + "\">" + esc(m.num) + "</text>";
    o += "</g>\n";
  }
  double x = f.l + 6, y = 14;
  legend_dot(o, x, y, "<circle class=\"vp\" cx=\"" + px(x) + "\" cy=\"" + px(y) + "\" r=\"4\"/>", "pairs");
  legend_dot(o, x, y, "<circle class=\"vq\" cx=\"" + px(x) + "\" cy=\"" + px(y) + "\" r=\"4\"/>", v.thr_lab.empty() ? "passing" : v.thr_lab);
  legend_dot(o, x, y, "<circle class=\"vt\" cx=\"" + px(x) + "\" cy=\"" + px(y) + "\" r=\"4\"/>", "top pairs, numbered as in the table");
  o += "</svg>\n";
  return o;
}
