# The documents' rules (README size, no machine paths, section links that
# resolve): part of the quick tier.
find_program(SYN_DOCS_PYTHON3 python3)
if(SYN_DOCS_PYTHON3)
  add_test(NAME docs_check COMMAND ${SYN_DOCS_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/docs_check.py ${PROJECT_SOURCE_DIR})
  set_tests_properties(docs_check PROPERTIES LABELS quick)
endif()
