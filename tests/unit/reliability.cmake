# The fault sweep: whole launcher runs over the POSIX layer with each platform call disturbed in turn.
add_executable(reliability_unit_tests ${CMAKE_CURRENT_LIST_DIR}/reliability_sweep_test.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/reliability_race_test.cpp
                                      ${CMAKE_CURRENT_LIST_DIR}/reliability_names_test.cpp)
target_link_libraries(reliability_unit_tests PRIVATE sfxrun_test_support sfxlz GTest::gtest_main)
gtest_discover_tests(reliability_unit_tests TEST_PREFIX reliability. PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
