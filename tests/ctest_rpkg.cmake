# R package suite: R CMD build (vignette included where its packages are
# there), the tarball installed on its own into a scratch library, R CMD check
# --as-cran with the testthat tests against the programs' files (no error,
# warning or note but the installed size), and BiocCheck without the network.
# Skipped (exit 77) where R, Rcpp or testthat is missing.
if(TARGET probe_rank AND TARGET pair_search AND TARGET pair_signif AND TARGET pair_report)
  add_test(NAME rpkg
           COMMAND bash ${PROJECT_SOURCE_DIR}/rpkg/tools/check.sh ${PROJECT_SOURCE_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/rpkg $<TARGET_FILE:probe_rank> $<TARGET_FILE:pair_search>
                   $<TARGET_FILE:pair_signif> $<TARGET_FILE:pair_report>)
  set_tests_properties(rpkg PROPERTIES LABELS rpkg SKIP_RETURN_CODE 77 TIMEOUT 2400)
endif()
