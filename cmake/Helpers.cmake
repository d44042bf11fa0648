# Small helpers shared by the folders' CMake files.

# Compiles a target the way the stub is compiled: no exceptions, no RTTI, no C++ runtime at link.
function(sfxrun_stub_flags target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${SFXRUN_STUB_CXX_FLAGS}>)
endfunction()

# Includes every <area>.cmake of a folder, so each area keeps its own list of targets and tests.
macro(sfxrun_include_areas dir)
  file(GLOB _areas CONFIGURE_DEPENDS "${dir}/*.cmake")
  list(SORT _areas)
  foreach(_area IN LISTS _areas)
    include(${_area})
  endforeach()
endmacro()
