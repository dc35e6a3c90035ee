# Hardening: fuzz corpus replays, damaged-file tests, resource bounds and
# failure injection on the real binary.  Included from tests/CMakeLists.txt.

# Replay every seed corpus (the clang fuzz build adds the fuzzers instead).
if(NOT CADPORT_FUZZ)
  add_subdirectory(${PROJECT_SOURCE_DIR}/fuzz ${CMAKE_CURRENT_BINARY_DIR}/fuzz-replay)
endif()
