# Browser suite: render a report of the bundled example in headless Chromium.
# Skipped (exit 77) where /usr/bin/chromium is missing.
if(TARGET pair_report AND TARGET probe_rank AND TARGET pair_search)
  add_test(NAME report_browser
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/report_browser.sh
                   $<TARGET_FILE:pair_report> $<TARGET_FILE:probe_rank> $<TARGET_FILE:pair_search>
                   ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/report_browser)
  set_tests_properties(report_browser PROPERTIES LABELS browser
    SKIP_RETURN_CODE 77 TIMEOUT 400)
endif()
