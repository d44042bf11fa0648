# The libFuzzer targets and their bounded CI runs over the seed corpus in tests/data (fuzz builds only).
set(SFXRUN_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz target runs under ctest")

# Coverage feedback needs the code under test instrumented, not just the targets themselves.
foreach(lib sfxrun_core sfxrun_posix sfxcontainer sfxlz sfxbuilder)
  if(TARGET ${lib})
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endforeach()

# clang's UBSan checks indirect calls against C++ type information, which the stub, linked without
# a C++ runtime, does not have; everything that goes into the stub is built without that one check.
foreach(lib sfxrun-stub sfxrun_core sfxrun_posix sfxcontainer sfxlz)
  if(TARGET ${lib} AND SFXRUN_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${lib} PRIVATE -fno-sanitize=function)
  endif()
endforeach()

set(SFXRUN_SEEDS ${CMAKE_SOURCE_DIR}/tests/data)

# sfxrun_add_fuzz_target(NAME SOURCE MAX_LEN SEEDS dir... LIBS lib...)
function(sfxrun_add_fuzz_target name)
  cmake_parse_arguments(F "" "SOURCE;MAX_LEN" "SEEDS;LIBS" ${ARGN})
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${F_SOURCE})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_test(NAME fuzz.${name}
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_fuzz.sh $<TARGET_FILE:${name}>
                   ${CMAKE_BINARY_DIR}/fuzz-work/${name} ${SFXRUN_FUZZ_SECONDS} ${F_MAX_LEN} ${F_SEEDS})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
