# The installed program and the Debian package.
add_test(NAME install_files
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/installed_files.sh ${PROJECT_BINARY_DIR}
                 ${PROJECT_SOURCE_DIR} ${PROJECT_VERSION})
add_test(NAME install_run
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/installed_run.sh ${PROJECT_BINARY_DIR}
                 ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/tests/install)
add_test(NAME install_second_instance
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/second_instance.sh $<TARGET_FILE:ternbell>
                 ${PROJECT_BINARY_DIR}/tests/install)
add_test(NAME install_package
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package.sh ${PROJECT_BINARY_DIR} ${PROJECT_VERSION})
set_tests_properties(install_files install_run install_second_instance install_package
                     PROPERTIES LABELS install TIMEOUT 180 SKIP_RETURN_CODE 77)
# Each installs (or packages) from the same build folder: one at a time.
set_tests_properties(install_files install_run install_package PROPERTIES RESOURCE_LOCK ternbell_install)
