# Script tests of the front end: the real binary with and without a
# terminal, whole conversions, and the shared corpus read back.
add_test(NAME app_front_end_e2e
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/front_end_e2e.sh $<TARGET_FILE:cadport>)
add_test(NAME app_conversion_e2e
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/conversion_e2e.sh $<TARGET_FILE:cadport>)
add_test(NAME app_corpus_e2e
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app/corpus_e2e.sh $<TARGET_FILE:cadport>
                 ${PROJECT_SOURCE_DIR}/../shared/corpus)
set_tests_properties(app_front_end_e2e app_conversion_e2e app_corpus_e2e
                     PROPERTIES LABELS app TIMEOUT 600)
set_tests_properties(app_corpus_e2e PROPERTIES SKIP_RETURN_CODE 77)
