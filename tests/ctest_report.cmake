# Browser suite: render reports of the bundled example in headless Chromium.
# Skipped (exit 77) where /usr/bin/chromium is missing.
# Exports suite: --tsv and --edges read back with Python's csv module, and
# markup in every name kept as text.
if(TARGET pair_report AND TARGET probe_rank AND TARGET pair_search)
  add_test(NAME report_browser
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/report_browser.sh
                   $<TARGET_FILE:pair_report> $<TARGET_FILE:probe_rank> $<TARGET_FILE:pair_search>
                   ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/report_browser)
  set_tests_properties(report_browser PROPERTIES LABELS browser
    SKIP_RETURN_CODE 77 TIMEOUT 400)
  find_program(SYN_PYTHON3 python3)
  if(SYN_PYTHON3)
    add_test(NAME report_exports
             COMMAND ${SYN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/report_exports.py
                     $<TARGET_FILE:pair_report> $<TARGET_FILE:probe_rank> $<TARGET_FILE:pair_search>
                     ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/report_exports)
    set_tests_properties(report_exports PROPERTIES LABELS report TIMEOUT 300)
  endif()
endif()
