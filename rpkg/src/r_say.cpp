// r_say.cpp: the programs' progress and notes go to the R console.
#include <R_ext/Print.h>

#include "synergy.h"

void say_err(const char* text) { REprintf("%s", text); }
