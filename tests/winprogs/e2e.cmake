# The probe that containers start and the parent that reads exit codes, for the end-to-end runs under wine64 (win64 preset).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # GUI subsystem, like most programs a launcher starts: no console appears for it.
  add_executable(e2e-probe WIN32 ${CMAKE_CURRENT_LIST_DIR}/e2e_probe.c)
  # Stripped: it is packed into every container of the table.
  target_link_options(e2e-probe PRIVATE -s)
  add_executable(e2e-parent ${CMAKE_CURRENT_LIST_DIR}/e2e_parent.c)
endif()
