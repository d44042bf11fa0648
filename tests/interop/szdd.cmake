# Interop of the SZDD codec with libmspack, msexpand and mscompress, and with Wine's LZ32.
find_library(SFXRUN_MSPACK_LIBRARY mspack)
find_path(SFXRUN_MSPACK_INCLUDE mspack.h)
find_program(SFXRUN_MSCOMPRESS mscompress)
find_program(SFXRUN_MSEXPAND msexpand)

add_executable(szdd_tool ${CMAKE_CURRENT_LIST_DIR}/szdd_tool.cpp)
target_include_directories(szdd_tool PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(szdd_tool PRIVATE sfxlz)

if(SFXRUN_MSPACK_LIBRARY AND SFXRUN_MSPACK_INCLUDE AND SFXRUN_MSCOMPRESS AND SFXRUN_MSEXPAND)
  add_executable(szdd_interop_test ${CMAKE_CURRENT_LIST_DIR}/szdd_interop_test.cpp)
  target_include_directories(szdd_interop_test PRIVATE ${CMAKE_SOURCE_DIR} ${SFXRUN_MSPACK_INCLUDE})
  target_compile_definitions(szdd_interop_test PRIVATE SFXRUN_MSCOMPRESS="${SFXRUN_MSCOMPRESS}"
                                                       SFXRUN_MSEXPAND="${SFXRUN_MSEXPAND}")
  target_link_libraries(szdd_interop_test PRIVATE sfxlz ${SFXRUN_MSPACK_LIBRARY} GTest::gtest_main)
  gtest_discover_tests(szdd_interop_test TEST_PREFIX interop.szdd. DISCOVERY_TIMEOUT 60)
else()
  message(WARNING "libmspack, mscompress or msexpand missing (scripts/setup.sh installs them): "
                  "the SZDD interop tests are not built")
endif()

sfxrun_add_wine_test(interop.szdd.Lz32ExpandsOurStreams
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/lz32_wine.sh $<TARGET_FILE:szdd_tool>
  TIMEOUT 300)
