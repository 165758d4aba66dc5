# The settings window's tests drive it with Qt's own key and mouse clicks.
find_package(Qt6 REQUIRED COMPONENTS Test)
target_link_libraries(test_config_settings PRIVATE Qt6::Test)
target_link_libraries(test_config_sign_in_page PRIVATE Qt6::Test)
target_link_libraries(test_config_settings_quiet PRIVATE Qt6::Test)

# Errors leaving the window's handlers go to the program's error box, which
# needs the program's own application object: this test brings its own main.
add_executable(test_config_settings_errorbox ${CMAKE_CURRENT_LIST_DIR}/settings_errorbox.cpp)
ternbell_target(test_config_settings_errorbox)
set_target_properties(test_config_settings_errorbox PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
target_link_libraries(test_config_settings_errorbox PRIVATE app testcore Qt6::Test)
gtest_discover_tests(test_config_settings_errorbox DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS config)
