# Statistical suite of pair_signif (calibration over 200 null tables, power
# over 10 planted pairs): a few minutes, so only with ctest -L full.
add_test(NAME signif_full COMMAND unit_tests --gtest_filter=SignifFull.*)
set_tests_properties(signif_full PROPERTIES LABELS full ENVIRONMENT SYN_FULL=1 TIMEOUT 900)
