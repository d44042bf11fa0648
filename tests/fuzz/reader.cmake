# Fuzz target over the builder's container reader (list, verify), checked against the launcher.
if(TARGET sfxbuilder)
  sfxrun_add_fuzz_target(fuzz_builder_reader SOURCE fuzz_builder_reader.cpp MAX_LEN 65536
                         SEEDS ${SFXRUN_SEEDS}/containers LIBS sfxbuilder sfxrun_core)
endif()
