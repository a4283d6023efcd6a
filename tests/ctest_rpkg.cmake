# R package suite: R CMD build and INSTALL into a scratch library, the testthat
# tests against the programs' files, and R CMD check --no-manual with no error
# or warning. Skipped (exit 77) where R, Rcpp or testthat is missing.
if(TARGET probe_rank AND TARGET pair_search AND TARGET pair_signif)
  add_test(NAME rpkg
           COMMAND bash ${PROJECT_SOURCE_DIR}/rpkg/tools/check.sh ${PROJECT_SOURCE_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/rpkg $<TARGET_FILE:probe_rank> $<TARGET_FILE:pair_search>
                   $<TARGET_FILE:pair_signif>)
  set_tests_properties(rpkg PROPERTIES LABELS rpkg SKIP_RETURN_CODE 77 TIMEOUT 1200)
endif()
