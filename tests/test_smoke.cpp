#include <gtest/gtest.h>

#include "synergy.h"

TEST(Score, EntropyOfHalfIsOne) { EXPECT_EQ(mi(0.5), 1.0); }
