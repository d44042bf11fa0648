# Fuzz target over the launcher's trailer search and directory load (LocateContainer).
sfxrun_add_fuzz_target(fuzz_container_locate SOURCE fuzz_container_locate.cpp MAX_LEN 65536
                       SEEDS ${SFXRUN_SEEDS}/containers LIBS sfxrun_core)
