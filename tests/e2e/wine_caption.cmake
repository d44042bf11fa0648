# The message box's caption carries the launcher's own Japanese file name in code page 932.
sfxrun_add_wine_test(e2e_wine_japanese_caption
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/wine_caption.sh ${SFXRUN_WIN64_DIR}/bin/sfxrun-stub64.exe
          ${CMAKE_CURRENT_BINARY_DIR}/e2e/wine-caption
  TIMEOUT 120)
