# End-to-end tests of the install layout and the Debian package: what `cmake --install` and
# `cpack -G DEB` put where, and that the installed sfxrun-pack finds the installed stubs.
# Only a release build is what gets installed and packaged; sanitized programs need their runtimes.
if(NOT TARGET sfxrun-pack OR NOT TARGET sfxrun-stub OR SFXRUN_SANITIZE)
  return()
endif()

# With the Windows tests on, the cross builds are expected to be there, so a missing Windows stub
# in the install is a fault and not a skip.
if(SFXRUN_WINDOWS_TESTS)
  set(_install_windows 1)
else()
  set(_install_windows 0)
endif()
set(_install_args ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} $<TARGET_FILE:sfxrun-example>
    ${SFXRUN_WIN32_DIR} ${SFXRUN_WIN64_DIR} ${_install_windows})

foreach(mode IN ITEMS layout deb)
  add_test(NAME install_${mode} COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install.sh ${mode} ${_install_args})
  set_tests_properties(install_${mode} PROPERTIES TIMEOUT 180 LABELS install
                       ENVIRONMENT "CMAKE=${CMAKE_COMMAND};CPACK=${CMAKE_CPACK_COMMAND}")
endforeach()
