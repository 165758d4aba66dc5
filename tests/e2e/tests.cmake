# End-to-end: the real program under its own X server with a tray.
add_test(NAME e2e_first_start
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/first_start.sh $<TARGET_FILE:ternbell>
                 ${PROJECT_BINARY_DIR}/tests/e2e $<TARGET_FILE:check_e2e_dovecot>)
set_tests_properties(e2e_first_start PROPERTIES LABELS e2e TIMEOUT 180 SKIP_RETURN_CODE 77)
