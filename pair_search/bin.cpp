// pair_search: greedy label-flip search over pairs of candidate probes.
#include "search.h"

int main(int argc, char** argv) { return search_cmd(argc, argv, "pair_search", false); }
