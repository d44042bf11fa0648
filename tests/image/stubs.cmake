# Inspect tests: the three built stubs read as files. The Windows stubs come from the cross builds in
# SFXRUN_WIN32_DIR and SFXRUN_WIN64_DIR; a missing one fails its tests, it is never skipped.
add_executable(inspect_stubs ${CMAKE_CURRENT_LIST_DIR}/stubs_test.cpp ${CMAKE_CURRENT_LIST_DIR}/image_reader.cpp)
target_include_directories(inspect_stubs PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_compile_definitions(inspect_stubs PRIVATE SFXRUN_RESOURCES_DIR="${CMAKE_SOURCE_DIR}/resources")
target_link_libraries(inspect_stubs PRIVATE GTest::gtest_main)

function(sfxrun_add_inspect_test name kind stub filter)
  add_test(NAME ${name} COMMAND inspect_stubs --gtest_filter=${filter})
  set_tests_properties(${name} PROPERTIES LABELS inspect
                       ENVIRONMENT "SFXRUN_INSPECT_STUB=${stub};SFXRUN_INSPECT_KIND=${kind}")
endfunction()

if(TARGET sfxrun-stub)
  set(_native_stub $<TARGET_FILE:sfxrun-stub>)
else()
  set(_native_stub ${CMAKE_BINARY_DIR}/bin/sfxrun-stub)
endif()
sfxrun_add_inspect_test(inspect_native_stub native ${_native_stub} "ElfStub.*:StubImage.*")

if(SFXRUN_WINDOWS_TESTS)
  set(_pe_image_tests "PeStub.IsAGuiProgramOfItsMachine:PeStub.ImportsOnlyTheSystemDlls")
  foreach(_kind i686 x86_64)
    if(_kind STREQUAL "i686")
      set(_stub ${SFXRUN_WIN32_DIR}/bin/sfxrun-stub.exe)
    else()
      set(_stub ${SFXRUN_WIN64_DIR}/bin/sfxrun-stub64.exe)
    endif()
    sfxrun_add_inspect_test(inspect_${_kind}_stub ${_kind} ${_stub} "${_pe_image_tests}:StubImage.*")
    sfxrun_add_inspect_test(inspect_${_kind}_resources ${_kind} ${_stub} "PeStub.*-${_pe_image_tests}")
  endforeach()

  # The system's own readers of the x86_64 stub's resources, under wine64 in a Japanese locale so that
  # the ANSI code page is 932.
  sfxrun_add_wine_test(wine_stub_resources
    COMMAND env LC_ALL=ja_JP.UTF-8 LOCPATH=${SFXRUN_LOCPATH}
            ${SFXRUN_WINE64} ${SFXRUN_WIN64_DIR}/bin/resources-probe.exe Z:${SFXRUN_WIN64_DIR}/bin/sfxrun-stub64.exe
    TIMEOUT 120)
endif()
