# Install layout and the Debian package: where sfxrun-pack, the three stubs, the man page and the docs go.
# Only install rules, CPack settings and the link choice that keeps the package to libc6 live here;
# the targets themselves are defined in their folders.

include(GNUInstallDirs)

# The cross configurations install their own stub (launcher/CMakeLists.txt); everything else here is
# the native configuration's business.
if(WIN32)
  return()
endif()

# sfxrun-pack looks for its stubs in <its folder>/../lib/sfxrun, so this folder stays "lib/sfxrun"
# on every distribution (never lib64 or a multiarch folder).
set(SFXRUN_STUB_INSTALL_DIR lib/sfxrun)

# The Windows stubs come from the cross builds. They are looked at when installing, not when
# configuring, so a cross build finished after this configure is still picked up; a missing one is
# named now so that a package without it is not a surprise.
foreach(kind IN ITEMS WIN32 WIN64)
  if(kind STREQUAL "WIN32")
    set(stub "${SFXRUN_WIN32_DIR}/bin/sfxrun-stub.exe")
  else()
    set(stub "${SFXRUN_WIN64_DIR}/bin/sfxrun-stub64.exe")
  endif()
  string(TOLOWER "${kind}" preset)
  if(NOT EXISTS "${stub}")
    message(STATUS "sfxrun: ${stub} is not built yet; `cmake --install` leaves it out unless it exists by then "
                   "(build it with the ${preset} preset, or set SFXRUN_${kind}_DIR)")
  endif()
  install(PROGRAMS "${stub}" DESTINATION ${SFXRUN_STUB_INSTALL_DIR} OPTIONAL)
endforeach()

# Debian wants man pages compressed; -n keeps the name and time out of the gzip header so the
# package is reproducible.
set(SFXRUN_MAN_SOURCE "${CMAKE_SOURCE_DIR}/docs/sfxrun-pack.1")
set(SFXRUN_MAN_GZ "${CMAKE_BINARY_DIR}/man/sfxrun-pack.1.gz")
add_custom_command(OUTPUT "${SFXRUN_MAN_GZ}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/man"
  COMMAND gzip -9n -c "${SFXRUN_MAN_SOURCE}" > "${SFXRUN_MAN_GZ}"
  DEPENDS "${SFXRUN_MAN_SOURCE}"
  COMMENT "Compressing the man page"
  VERBATIM)
add_custom_target(sfxrun-man ALL DEPENDS "${SFXRUN_MAN_GZ}")
install(FILES "${SFXRUN_MAN_GZ}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES "${CMAKE_SOURCE_DIR}/README.md" "${CMAKE_SOURCE_DIR}/docs/usage.md"
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES "${CMAKE_SOURCE_DIR}/docs/format.md" DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
# usage.md shows its pictures from images/ beside it.
install(DIRECTORY "${CMAKE_SOURCE_DIR}/docs/images" DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package depends on libc6 alone: sfxrun-pack carries its C++ runtime inside, the stubs link
# none (the POSIX stub needs only libc; the Windows stubs are data to this system).
# Sanitized builds are for tests and keep the runtimes their sanitizers expect.
if(TARGET sfxrun-pack AND NOT SFXRUN_SANITIZE)
  target_link_options(sfxrun-pack PRIVATE -static-libstdc++ -static-libgcc)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sfxrun)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "sfxrun developers")
set(CPACK_PACKAGE_CONTACT "sfxrun developers <sfxrun@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting launchers for Windows and Linux")
# One text line per control-file line: CPack indents each for the Description field.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "sfxrun-pack packs a program and the files it needs into one executable: a small\n"
    "launcher that, when started, extracts them into a fresh folder in the temporary\n"
    "folder, starts the program, waits for it and removes what it extracted. It builds\n"
    "launchers for 32- and 64-bit Windows (GUI subsystem, Japanese messages) and for\n"
    "Linux, and lists, verifies and extracts existing ones.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "sfxrun developers <sfxrun@localhost>")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
# The newest symbol version the programs take from the C library (the static C++ runtime of Debian
# 12's compiler asks for 2.36); the install_deb test holds this against the built programs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.36)")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Strips what install(TARGETS) installs; the Windows stubs are stripped by their own builds.
set(CPACK_STRIP_FILES TRUE)
include(CPack)
