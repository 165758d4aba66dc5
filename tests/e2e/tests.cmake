# End-to-end: the real program under its own X server with a tray.
add_test(NAME e2e_first_start
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/first_start.sh $<TARGET_FILE:ternbell>
                 ${PROJECT_BINARY_DIR}/tests/e2e $<TARGET_FILE:check_e2e_dovecot>)
set_tests_properties(e2e_first_start PROPERTIES LABELS e2e TIMEOUT 180 SKIP_RETURN_CODE 77)

# A script run as ternbell_e2e(<name> <script> [arguments...]): the
# program, the Dovecot helper, the folder for screenshots, then the rest.
function(ternbell_e2e name script)
  add_test(NAME ${name}
           COMMAND bash ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${script} $<TARGET_FILE:ternbell>
                   $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS e2e TIMEOUT 120 SKIP_RETURN_CODE 77)
endfunction()

# The program in German and in French, screenshots kept for a look; the
# windows also in English, and in all three at one and a half times the scale.
ternbell_e2e(e2e_translated_de translated.sh de_DE.UTF-8)
ternbell_e2e(e2e_translated_fr translated.sh fr_FR.UTF-8)
ternbell_e2e(e2e_windows_en translated.sh C.UTF-8)
ternbell_e2e(e2e_windows_de_scaled translated.sh de_DE.UTF-8 1.5)
ternbell_e2e(e2e_windows_fr_scaled translated.sh fr_FR.UTF-8 1.5)
ternbell_e2e(e2e_windows_en_scaled translated.sh C.UTF-8 1.5)

# No tray host: the program checks and tells, gives its hint once, and docks
# when a tray comes.
ternbell_e2e(e2e_no_tray no_tray.sh)

# Under a headless Wayland compositor, with no X display.
ternbell_e2e(e2e_wayland wayland.sh)

# The count on a dock's launcher (Plank) and the status for bars.
ternbell_e2e(e2e_launcher_badge launcher_badge.sh)
