# Unit tests of the launcher's stages and of the POSIX platform layer.
add_library(sfxrun_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/launcher_fixture.cpp)
target_link_libraries(sfxrun_test_support PUBLIC sfxrun_core GTest::gtest)
target_include_directories(sfxrun_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})

add_executable(launcher_unit_tests
  ${CMAKE_CURRENT_LIST_DIR}/launcher_locate_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/launcher_check_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/launcher_services_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/launcher_run_test.cpp)
target_link_libraries(launcher_unit_tests PRIVATE sfxrun_test_support GTest::gtest_main)
gtest_discover_tests(launcher_unit_tests PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)

add_executable(names_unit_tests ${CMAKE_CURRENT_LIST_DIR}/names_test.cpp)
target_link_libraries(names_unit_tests PRIVATE sfxcontainer GTest::gtest_main)
gtest_discover_tests(names_unit_tests PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
