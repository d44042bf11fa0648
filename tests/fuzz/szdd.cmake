# Fuzz target over the SZDD decoders (whole and streaming) and the encoder's round trip.
sfxrun_add_fuzz_target(fuzz_szdd_decode SOURCE fuzz_szdd_decode.cpp MAX_LEN 16384
                       SEEDS ${SFXRUN_SEEDS}/szdd LIBS sfxlz)
