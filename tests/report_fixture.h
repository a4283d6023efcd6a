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

// Records of a real search on table4 with all three probes candidates (the
// checks of rec_check.h search some again): distinct pairs (P,Q) 0.998527
// flipping samples 0 and 2, (Q,Q) 0 flipping none, (R,P) 0.377075 flipping
// sample 3; the second record is the first one's mirror.
inline const char* const records4 =
    "P\tQ\t0.998527\t0\t1\t1\t0\nP\tQ\t-9\t0\t1\t2\t3\n"
    "Q\tP\t0.998527\t0\t1\t1\t0\nQ\tP\t-9\t0\t1\t2\t3\n"
    "Q\tQ\t0\t1\t1\t0\t0\nQ\tQ\t-9\t0\t1\t0\t1\n"
    "R\tP\t0.377075\t1\t1\t0\t1\nR\tP\t-9\t0\t0\t1\t2\n";

// Scores made up so that all three are candidates (the lists' scores are not checked).
inline const char* const ranked4 = "Q\t1\t0.99\t2\nR\t2\t0.98\t2\nP\t0\t0.975\t2\n";

}  // namespace fixture
