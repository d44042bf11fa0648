# The probe that reads the x86_64 stub's version block and string table under wine64 (built in the win64 preset).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_executable(resources-probe ${CMAKE_CURRENT_LIST_DIR}/resources_probe.c)
  target_include_directories(resources-probe PRIVATE ${CMAKE_SOURCE_DIR}/resources)
  target_link_libraries(resources-probe PRIVATE version)
endif()
