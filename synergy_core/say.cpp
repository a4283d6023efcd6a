// say.cpp: standard error for the programs' progress and notes (synergy.h).
#include <cstdio>

#include "synergy.h"

void say_err(const char* text) { std::fputs(text, stderr); }
