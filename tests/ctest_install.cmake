# Install suite (label install): the .deb built by cpack, unpacked with
# dpkg -x, its manual pages rendered and the example run from the installed
# files (tests/install_test.sh). Skipped (exit 77) without cpack's and
# dpkg's tools or man.
if(TARGET synergy AND NOT SYN_NESTED)
  add_test(NAME install
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${PROJECT_BINARY_DIR}
                   ${CMAKE_CURRENT_BINARY_DIR}/install)
  # cpack installs the whole build first: alone, never beside other tests
  set_tests_properties(install PROPERTIES LABELS install SKIP_RETURN_CODE 77 TIMEOUT 600 RUN_SERIAL TRUE)
endif()
