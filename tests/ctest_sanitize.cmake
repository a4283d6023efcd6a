# Sanitizer suite: the whole project is configured and built again with
# AddressSanitizer and UndefinedBehaviorSanitizer (no recovery: the first
# finding fails) in its own tree under the build directory, and its tests run
# there. This file is both the registration (included from tests/) and the
# script the test runs (cmake -P).
#
# The nested build is configured with SYN_NESTED=ON: it registers neither this
# suite nor the fuzz suite again, so the suite never recurses.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  if(NOT SYN_NESTED AND NOT SYN_SANITIZE)
    add_test(NAME sanitize
      COMMAND ${CMAKE_COMMAND}
        -DSRC=${PROJECT_SOURCE_DIR}
        -DBIN=${PROJECT_BINARY_DIR}/sanitize
        -DCXX=${CMAKE_CXX_COMPILER}
        -P ${CMAKE_CURRENT_LIST_FILE})
    set_tests_properties(sanitize PROPERTIES
      TIMEOUT 1500
      PROCESSORS 2
      LABELS sanitize
    SKIP_RETURN_CODE 77
      SKIP_REGULAR_EXPRESSION "sanitize suite skipped:")
  endif()
  return()
endif()

# ---- script mode -----------------------------------------------------------

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "sanitize: ${what} failed (${rc})")
  endif()
endfunction()

# A compiler without the sanitizer runtimes cannot run this suite: skip it.
file(MAKE_DIRECTORY ${BIN})
file(WRITE ${BIN}/probe.cpp "int main() { return 0; }\n")
execute_process(
  COMMAND ${CXX} -fsanitize=address,undefined ${BIN}/probe.cpp -o ${BIN}/probe
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0)
  message("sanitize suite skipped: ${CXX} cannot link -fsanitize=address,undefined")
  return()
endif()

# halt_on_error and abort_on_error make every finding a failing exit status;
# the leak check runs at the exit of every test process.
set(ENV{ASAN_OPTIONS} "detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1")
set(ENV{UBSAN_OPTIONS} "print_stacktrace=1:halt_on_error=1")

run(configure ${CMAKE_COMMAND} -S ${SRC} -B ${BIN}
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_CXX_COMPILER=${CXX}
  -DSYN_SANITIZE=ON -DSYN_BENCH=OFF -DSYN_TESTS=ON -DSYN_NESTED=ON)
run(build ${CMAKE_COMMAND} --build ${BIN} -j2)
# Not run here: the R package (R builds it with its own flags, without the
# sanitizers) and the full statistical tier (the quick tier's code paths at
# larger sizes); together they were half of this suite's time.
run(tests ${CMAKE_CTEST_COMMAND} --test-dir ${BIN} --output-on-failure --label-exclude "^(rpkg|full)$")
