# Black-box tests of the sfxrun-pack command line, and the test helper that damages containers.
add_executable(builder_damage ${CMAKE_CURRENT_LIST_DIR}/builder_damage.cpp)
target_link_libraries(builder_damage PRIVATE sfxcontainer)

# The real POSIX stub when it is built; otherwise any file stands in for one.
if(TARGET sfxrun-stub)
  set(_builder_cli_stub $<TARGET_FILE:sfxrun-stub>)
else()
  set(_builder_cli_stub ${CMAKE_CURRENT_LIST_DIR}/builder_cli.sh)
endif()
add_test(NAME builder_cli
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/builder_cli.sh $<TARGET_FILE:sfxrun-pack> ${_builder_cli_stub}
                 $<TARGET_FILE:builder_damage> ${CMAKE_CURRENT_BINARY_DIR}/builder_cli)
set_tests_properties(builder_cli PROPERTIES TIMEOUT 120)

add_test(NAME builder_cli_signed
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/builder_cli_signed.sh $<TARGET_FILE:sfxrun-pack>
                 ${CMAKE_CURRENT_BINARY_DIR}/builder_cli_signed)
set_tests_properties(builder_cli_signed PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77
                     ENVIRONMENT "SFXRUN_WIN64_DIR=${SFXRUN_WIN64_DIR};SFXRUN_WINDOWS_TESTS=${SFXRUN_WINDOWS_TESTS}")

sfxrun_add_wine_test(builder_cli_wine
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/builder_cli_wine.sh $<TARGET_FILE:sfxrun-pack>
          ${CMAKE_CURRENT_BINARY_DIR}/builder_cli_wine
  TIMEOUT 180)
