# Reliability scenarios run as processes: load, hostile containers, planted names, signals, full
# disks on POSIX; load, code signing and hostile containers under wine64.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND AND TARGET sfxrun-stub AND TARGET sfxrun-pack)
  foreach(scenario load hostile planted signals diskfull)
    add_test(NAME reliability.${scenario}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/reliability.py ${scenario}
                     --stub $<TARGET_FILE:sfxrun-stub> --pack $<TARGET_FILE:sfxrun-pack>
                     --probe ${CMAKE_CURRENT_LIST_DIR}/probe.sh
                     --work ${CMAKE_CURRENT_BINARY_DIR}/reliability/${scenario})
    set_tests_properties(reliability.${scenario} PROPERTIES LABELS e2e TIMEOUT 300)
  endforeach()
  # Mounting a tmpfs and 32 processes at once: alone, so neither disturbs a neighbour's timing.
  set_tests_properties(reliability.load reliability.diskfull PROPERTIES RUN_SERIAL ON)
endif()

if(Python3_FOUND AND TARGET sfxrun-pack)
  foreach(scenario load signed hostile)
    sfxrun_add_wine_test(reliability.wine_${scenario}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/reliability_wine.py ${scenario}
              --pack $<TARGET_FILE:sfxrun-pack> --work ${CMAKE_CURRENT_BINARY_DIR}/reliability/wine_${scenario}
      TIMEOUT 300)
  endforeach()
endif()
