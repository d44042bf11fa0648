# Unit tests of the SZDD codec and of the POSIX LZ service.
add_executable(lz_codec_test ${CMAKE_CURRENT_LIST_DIR}/lz_codec_test.cpp)
target_include_directories(lz_codec_test PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(lz_codec_test PRIVATE sfxlz GTest::gtest_main)
gtest_discover_tests(lz_codec_test TEST_PREFIX lz. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# The service is tested on its own, without the rest of the POSIX layer, so its tests build even
# while the other services change.
add_executable(lz_service_test ${CMAKE_CURRENT_LIST_DIR}/lz_service_test.cpp
                               ${CMAKE_SOURCE_DIR}/launcher/platform/posix/lz_service.cpp)
target_include_directories(lz_service_test PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(lz_service_test PRIVATE sfxlz GTest::gtest_main)
gtest_discover_tests(lz_service_test TEST_PREFIX lz_service. DISCOVERY_TIMEOUT 60)
