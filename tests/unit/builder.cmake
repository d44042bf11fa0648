# Unit tests of the container writer and reader (the sfxbuilder library).
add_executable(builder_unit_tests
  ${CMAKE_CURRENT_LIST_DIR}/builder_writer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/builder_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/builder_names_test.cpp)
target_link_libraries(builder_unit_tests PRIVATE sfxbuilder GTest::gtest_main)
gtest_discover_tests(builder_unit_tests TEST_PREFIX builder. DISCOVERY_TIMEOUT 30)
