// pair_signif: permutation significance of every pair of a finished search.
#include "sig.h"

int main(int argc, char** argv) { return signif_cmd(argc, argv, "pair_signif"); }
