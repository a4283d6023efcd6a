# Fuzz suite: build the libFuzzer targets of fuzz/ with clang (skipped when
# clang or libFuzzer is missing) and run each for about a minute with a fixed
# seed from its seed corpus. Not registered inside the sanitizer suite's nested
# build.
if(NOT SYN_NESTED)
  add_test(NAME fuzz
    COMMAND ${CMAKE_COMMAND} -E env CMAKE=${CMAKE_COMMAND}
      bash ${PROJECT_SOURCE_DIR}/fuzz/run.sh ${PROJECT_BINARY_DIR}/fuzz 60)
  set_tests_properties(fuzz PROPERTIES
    TIMEOUT 1200
    PROCESSORS 2
    SKIP_RETURN_CODE 77 LABELS fuzz)
endif()
