# Hardening: fuzz corpus replays, damaged-file tests, resource bounds and
# failure injection on the real binary.  Included from tests/CMakeLists.txt.

# Replay every seed corpus (the clang fuzz build adds the fuzzers instead).
if(NOT CADPORT_FUZZ)
  add_subdirectory(${PROJECT_SOURCE_DIR}/fuzz ${CMAKE_CURRENT_BINARY_DIR}/fuzz-replay)
endif()

# Damaged files, resource bounds and failure injection: one GoogleTest binary
# over the whole kernel; the failure-injection tests run the cadport binary.
file(GLOB _hsrc CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
if(_hsrc AND dxf IN_LIST CADPORT_PRESENT_MODULES)
  cadport_objects(_hobjs dxf)
  add_executable(test_hardening ${_hsrc} ${_hobjs})
  target_include_directories(test_hardening PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(test_hardening PRIVATE ${CADPORT_TEST_DEFS})
  target_link_libraries(test_hardening PRIVATE GTest::gtest_main GTest::gmock Threads::Threads)
  add_dependencies(test_hardening cadport)
  gtest_discover_tests(test_hardening DISCOVERY_MODE PRE_TEST TEST_FILTER "-HugeDrawing.*"
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} PROPERTIES LABELS hardening TIMEOUT 600)
  # Drawings over 2 GiB: make check-slow only.
  add_test(NAME hardening_huge_drawing COMMAND test_hardening --gtest_filter=HugeDrawing.*)
  set_tests_properties(hardening_huge_drawing PROPERTIES LABELS slow TIMEOUT 3600)
endif()
