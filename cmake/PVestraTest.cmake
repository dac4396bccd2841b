# pvestra_add_test(NAME SOURCES files... [LIBS libs...] [LABELS labels...])
# One GoogleTest executable in build/tests, its cases registered one by one with CTest.
# GUI code runs on Qt's offscreen platform. Label "sanitize" marks the tests that
# ./test.sh --sanitize runs under AddressSanitizer or ThreadSanitizer.
function(pvestra_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  # Every test program carries the leak-checker suppressions of the system libraries.
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/LsanSuppressions.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
                                            BUILD_RPATH "${CMAKE_BINARY_DIR}/bin")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
               ENVIRONMENT_MODIFICATION "PVESTRA_BIN=set:${CMAKE_BINARY_DIR}/bin"
               LABELS "${T_LABELS}")
endfunction()
