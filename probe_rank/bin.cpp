// probe_rank: rank every probe of an expression table by its single-probe score.
#include "rank.h"

int main(int argc, char** argv) { return rank_cmd(argc, argv, "probe_rank", false); }
