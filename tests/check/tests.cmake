# End-to-end: the real program checks a private Dovecot under its own X server.
add_executable(check_e2e_dovecot ${CMAKE_CURRENT_LIST_DIR}/e2e_dovecot.cpp)
ternbell_target(check_e2e_dovecot)
target_link_libraries(check_e2e_dovecot PRIVATE testdovecot)
set_target_properties(check_e2e_dovecot PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)

add_test(NAME e2e_check_cycle
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_cycle.sh $<TARGET_FILE:ternbell>
                 $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e)
set_tests_properties(e2e_check_cycle PROPERTIES LABELS "e2e;check" TIMEOUT 180 SKIP_RETURN_CODE 77)

add_test(NAME e2e_imap4_cycle
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_two_accounts.sh $<TARGET_FILE:ternbell>
                 $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e plain)
set_tests_properties(e2e_imap4_cycle PROPERTIES LABELS "e2e;check" TIMEOUT 180 SKIP_RETURN_CODE 77)

add_test(NAME e2e_tls_cycle
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_two_accounts.sh $<TARGET_FILE:ternbell>
                 $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e tls)
set_tests_properties(e2e_tls_cycle PROPERTIES LABELS "e2e;check" TIMEOUT 180 SKIP_RETURN_CODE 77)

# Quiet under dunst's do-not-disturb, rules and the summary, end to end.
add_test(NAME e2e_quiet
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/e2e_quiet.sh $<TARGET_FILE:ternbell>
                 $<TARGET_FILE:check_e2e_dovecot> ${PROJECT_BINARY_DIR}/tests/e2e)
set_tests_properties(e2e_quiet PROPERTIES LABELS "e2e;check" TIMEOUT 180 SKIP_RETURN_CODE 77)
