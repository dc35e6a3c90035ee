# Script tests of the front end: the real binary with and without a terminal.
add_test(NAME app_front_end_e2e
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/front_end_e2e.sh $<TARGET_FILE:cadport>)
set_tests_properties(app_front_end_e2e PROPERTIES LABELS app TIMEOUT 300)
