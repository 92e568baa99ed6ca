# ctest is the one test runner. C++ unit tests are GoogleTest programs beside
# the code; script tests are Python unittest files run by vorlane-server -child.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
include(GoogleTest)

# vorlane_cxx_test(NAME SOURCES... LIBS... [LABEL label])
# Each discovered test carries one label: "unit" by default, "concurrency" for
# the programs the ThreadSanitizer build runs, "slow" for long ones. Select
# every C++ test with ctest -L 'unit|concurrency|slow'.
function(vorlane_cxx_test name)
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${T_LABEL} ENVIRONMENT "TZ=UTC"
    DISCOVERY_TIMEOUT 60)
endfunction()

# vorlane_script_test(NAME SCRIPT [ARGS ...] [LABELS ...]): a unittest file run
# inside the embedded interpreter, with ARGS (such as test class names) after
# it. Skipped in sanitizer builds (the interpreter is not
# instrumented there).
function(vorlane_script_test name script)
  cmake_parse_arguments(T "" "" "LABELS" ${ARGN})
  if(NOT VORLANE_SANITIZE STREQUAL "")
    return()
  endif()
  add_test(NAME ${name}
    COMMAND $<TARGET_FILE:vorlane-server> -child ${script} ${T_UNPARSED_ARGUMENTS})
  set_tests_properties(${name} PROPERTIES
    LABELS "script;${T_LABELS}"
    ENVIRONMENT "TZ=UTC;PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/py;VORLANE_BUILD=${CMAKE_BINARY_DIR};VORLANE_SOURCE=${CMAKE_SOURCE_DIR}")
endfunction()
