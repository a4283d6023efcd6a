// The engines' option rules and defaults (eng_opt.h).
#include "eng_opt.h"

#include <cstdio>

const char* const SIG_TAIL_WORD[2] = {"none", "split"};

namespace {

std::string g_text(double x) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", x);
  return b;
}

}  // namespace

std::string bound_check(double x, const std::string& what) {
  if (x >= 0.0 && x <= 1.0) return "";
  return what + " '" + g_text(x) + "' is not from 0 to 1 (bits)";
}

std::string threads_check(double t) {
  if (t >= 0 && t <= MAX_THREADS && t == static_cast<double>(static_cast<long>(t))) return "";
  return "thread count '" + g_text(t) + "' is not a number from 0 to " + std::to_string(MAX_THREADS);
}

std::string range_check(long start, long end, long count, const std::string& of) {
  if (start >= 0 && start <= count && end >= 0 && end <= count) return "";
  return "range " + std::to_string(start) + ".." + std::to_string(end) +
         " reaches outside the candidate positions 0.." + std::to_string(count) + " of " + of;
}

std::string tail_word(const std::string& w, bool& tail, const std::string& pre, const std::string& post) {
  for (int k = 0; k < 2; ++k)
    if (w == SIG_TAIL_WORD[k]) {
      tail = k == 1;
      return "";
    }
  return pre + "tail" + post + " must be " + SIG_TAIL_WORD[1] + " or " + SIG_TAIL_WORD[0] + ", not '" + w +
         "'";
}

std::string sig_check(const sig_opt& o, const std::string& pre, const std::string& post) {
  auto name = [&](const char* n) { return pre + n + post; };
  if (o.cap == 0) return name("perm") + " must be at least 1";
  if (o.hits < 1 || o.hits > SIG_HITS_MAX)
    return name("hits") + " must be from 1 to " + std::to_string(SIG_HITS_MAX);
  if (o.part < SIG_PART_MIN || o.part > SIG_PART_MAX)
    return name("particles") + " must be from " + std::to_string(SIG_PART_MIN) + " to " +
           std::to_string(SIG_PART_MAX);
  const std::string b = bound_check(o.bound, name("bound"));
  if (!b.empty()) return b;
  if (o.n_thr < 1 || o.n_thr > MAX_THREADS) return threads_check(o.n_thr);
  return "";
}

std::vector<std::pair<std::string, std::string>> eng_defaults() {
  return {
      {"bound", g_text(CAND_BOUND)},           {"threads", std::to_string(sig_opt().n_thr)},
      {"seed", std::to_string(SIG_SEED)},      {"hits", std::to_string(SIG_HITS)},
      {"tail", SIG_TAIL_WORD[SIG_TAIL]},       {"particles", std::to_string(SIG_PART)},
      {"perm", std::to_string(SIG_PERM_TAIL)}, {"perm_work", std::to_string(static_cast<uint64_t>(SIG_WORK))},
      {"perm_none", std::to_string(SIG_PERM)}, {"reps", std::to_string(SIG_REPS)},
      {"moves", std::to_string(SIG_MOVES)},    {"floor", g_text(SIG_FLOOR)}};
}
