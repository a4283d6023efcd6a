// pair_report: an HTML page of the strongest pairs of a finished search.
#include "report.h"

int main(int argc, char** argv) { return report_cmd(argc, argv, "pair_report"); }
