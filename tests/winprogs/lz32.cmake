# lz32_expand.exe: expands a file through Windows' own LZ32, for the interop tests under wine64.
add_executable(lz32_expand ${CMAKE_CURRENT_LIST_DIR}/lz32_expand.c)
target_link_libraries(lz32_expand PRIVATE lz32)
target_link_options(lz32_expand PRIVATE -static)
