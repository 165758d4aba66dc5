# End-to-end: the real program under its own X server with a tray.
add_test(NAME e2e_first_start
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/first_start.sh $<TARGET_FILE:ternbell>
                 ${PROJECT_BINARY_DIR}/tests/e2e $<TARGET_FILE:check_e2e_dovecot>)
set_tests_properties(e2e_first_start PROPERTIES LABELS e2e TIMEOUT 180 SKIP_RETURN_CODE 77)

# The program in German and in French, screenshots kept for a look; the
# windows also in English, and in all three at one and a half times the scale.
foreach(_lang de_DE.UTF-8 fr_FR.UTF-8 C.UTF-8)
  string(SUBSTRING ${_lang} 0 2 _code)
  if(_code STREQUAL "C.")
    set(_code en)
  else()
    add_test(NAME e2e_translated_${_code}
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/translated.sh $<TARGET_FILE:ternbell>
                     $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e ${_lang})
    set_tests_properties(e2e_translated_${_code} PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)
  endif()
  add_test(NAME e2e_windows_${_code}_scaled
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/translated.sh $<TARGET_FILE:ternbell>
                   $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e ${_lang} 1.5)
  set_tests_properties(e2e_windows_${_code}_scaled PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)
endforeach()
add_test(NAME e2e_windows_en
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/translated.sh $<TARGET_FILE:ternbell>
                 $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e C.UTF-8)
set_tests_properties(e2e_windows_en PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)

# No tray host: the program checks and tells, gives its hint once, and docks
# when a tray comes.
add_test(NAME e2e_no_tray
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/no_tray.sh $<TARGET_FILE:ternbell>
                 $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e)
set_tests_properties(e2e_no_tray PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)

# Under a headless Wayland compositor, with no X display.
add_test(NAME e2e_wayland
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/wayland.sh $<TARGET_FILE:ternbell>
                 $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e)
set_tests_properties(e2e_wayland PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)
