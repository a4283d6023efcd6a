# Python package suite: a virtual environment in the build folder, the package
# (python/) installed into it with pip, and its pytest tests against the
# programs' files. Skipped (exit 77) where a Debian package it needs is missing.
if(TARGET probe_rank AND TARGET pair_search AND TARGET pair_signif)
  add_test(NAME python
           COMMAND bash ${PROJECT_SOURCE_DIR}/python/tools/check.sh ${PROJECT_SOURCE_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/python $<TARGET_FILE:probe_rank> $<TARGET_FILE:pair_search>
                   $<TARGET_FILE:pair_signif>)
  set_tests_properties(python PROPERTIES LABELS python SKIP_RETURN_CODE 77 TIMEOUT 1200)
endif()
