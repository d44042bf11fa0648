# The launcher's whole run as processes: the one scenario table, run on POSIX and under wine64.
if(NOT TARGET sfxrun-pack)
  return()  # the main-road containers are made by the builder
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(_e2e_table ${CMAKE_CURRENT_LIST_DIR}/launcher_run.py)

add_test(NAME e2e_launcher_posix
         COMMAND ${Python3_EXECUTABLE} ${_e2e_table} posix
                 --stub $<TARGET_FILE:sfxrun-stub> --pack $<TARGET_FILE:sfxrun-pack>
                 --probe ${CMAKE_CURRENT_LIST_DIR}/probe.sh
                 --scratch ${CMAKE_CURRENT_BINARY_DIR}/e2e/launcher-posix)
set_tests_properties(e2e_launcher_posix PROPERTIES LABELS e2e TIMEOUT 120)

# One test for the whole wine table: wine's start-up is paid once, and later runs find its server.
sfxrun_add_wine_test(e2e_launcher_wine
  COMMAND ${Python3_EXECUTABLE} ${_e2e_table} wine
          --stub ${SFXRUN_WIN64_DIR}/bin/sfxrun-stub64.exe --pack $<TARGET_FILE:sfxrun-pack>
          --probe ${SFXRUN_WIN64_DIR}/bin/e2e-probe.exe --parent ${SFXRUN_WIN64_DIR}/bin/e2e-parent.exe
          --wine ${SFXRUN_WINE64} --scratch ${CMAKE_CURRENT_BINARY_DIR}/e2e/launcher-wine
  TIMEOUT 300)
if(SFXRUN_WINDOWS_TESTS)
  set_tests_properties(e2e_launcher_wine PROPERTIES LABELS "e2e;wine")
endif()
