// report_fixture.h: the four-sample table, its records and ranked list that
// the report's tests share.
#pragma once

namespace fixture {

// Four samples labelled 1,1,0,0; probes P, Q, R.
inline const char* const table4 =
    "id\tA1\tA2\tB1\tB2\n"
    "label\t1\t1\t0\t0\n"
    "P\t0\t0\t1\t1\n"
    "Q\t0\t1\t0\t1\n"
    "R\t5\t5\t5\t6\n";

// Distinct pairs (P,Q) 0.5 flipping samples 0 and 2, (Q,R) 0.25 flipping none,
// (P,P) 0.125 flipping sample 3; the second record is the first one's mirror.
inline const char* const records4 =
    "P\tQ\t0.5\t0\t1\t1\t0\nP\tQ\t-9\t0\t0\t1\t1\n"
    "Q\tP\t0.5\t0\t1\t1\t0\nQ\tP\t-9\t0\t0\t1\t1\n"
    "Q\tR\t0.25\t1\t1\t0\t0\nQ\tR\t-9\t0\t1\t0\t1\n"
    "P\tP\t0.125\t1\t1\t0\t1\nP\tP\t-9\t0\t0\t1\t1\n";

inline const char* const ranked4 = "Q\t1\t0.99\t2\nR\t2\t0.98\t2\nP\t0\t0.5\t2\n";

}  // namespace fixture
