# Tests that run Windows programs under wine64 share one prefix inside the build tree, made afresh
# by the fixture test wine_prefix at the start of each test run.
set(SFXRUN_WINE64 "/usr/lib/wine/wine64" CACHE FILEPATH "wine64 loader")
set(SFXRUN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(SFXRUN_LOCPATH "/usr/local/share/sfxrun-locale" CACHE PATH "folder holding the ja_JP.UTF-8 locale")

set(SFXRUN_WINE_ENV
  "WINEPREFIX=${SFXRUN_WINEPREFIX}"
  "WINE64=${SFXRUN_WINE64}"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "SFXRUN_WIN32_DIR=${SFXRUN_WIN32_DIR}"
  "SFXRUN_WIN64_DIR=${SFXRUN_WIN64_DIR}"
  "SFXRUN_LOCPATH=${SFXRUN_LOCPATH}")

if(SFXRUN_WINDOWS_TESTS)
  add_test(NAME wine_prefix COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh ${SFXRUN_WINEPREFIX})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix ENVIRONMENT "${SFXRUN_WINE_ENV}"
                       TIMEOUT 300)
endif()

# sfxrun_add_wine_test(NAME COMMAND ... [TIMEOUT s]): a test that needs wine64 and the Windows builds.
function(sfxrun_add_wine_test name)
  cmake_parse_arguments(W "" "TIMEOUT" "COMMAND" ${ARGN})
  if(NOT SFXRUN_WINDOWS_TESTS)
    return()
  endif()
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${W_COMMAND})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix ENVIRONMENT "${SFXRUN_WINE_ENV}"
                       TIMEOUT ${W_TIMEOUT} LABELS wine)
endfunction()
