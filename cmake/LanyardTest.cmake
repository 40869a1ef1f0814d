include(GoogleTest)

# Builds every test binary that carries a *-concurrency label: what CI runs under ThreadSanitizer.
add_custom_target(concurrency-tests)

# lanyard_add_test(NAME name SOURCES ... LIBRARIES ... [TIMEOUT seconds] [LABELS ...]
#                  [SPLIT gtest-filter SPLIT_LABELS ...])
# One GoogleTest binary; every test case becomes a CTest test with a time-out. With SPLIT, the
# cases the filter selects carry SPLIT_LABELS instead of LABELS.
function(lanyard_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;SPLIT" "SOURCES;LIBRARIES;LABELS;SPLIT_LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  lanyard_set_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBRARIES} GTest::gtest GTest::gtest_main Threads::Threads)
  if(T_SPLIT)
    gtest_discover_tests(${T_NAME}
      DISCOVERY_TIMEOUT 60 TEST_FILTER "${T_SPLIT}"
      PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_SPLIT_LABELS}")
    set(_rest TEST_FILTER "-${T_SPLIT}")
  endif()
  if("${T_LABELS};${T_SPLIT_LABELS}" MATCHES "-concurrency")
    add_dependencies(concurrency-tests ${T_NAME})
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60 ${_rest}
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# lanyard_add_script_test(NAME name COMMAND ... [TIMEOUT seconds])
# An end-to-end check run by CTest (a shell or Python script driving built programs).
function(lanyard_add_script_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "e2e;${T_LABELS}")
endfunction()
