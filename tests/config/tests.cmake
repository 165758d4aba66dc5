# The settings window's tests drive it with Qt's own key and mouse clicks.
find_package(Qt6 REQUIRED COMPONENTS Test)
target_link_libraries(test_config_settings PRIVATE Qt6::Test)
