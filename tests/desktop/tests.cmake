# The error box test needs the program's own application object in place of
# the shared test main's, so it brings its own main.
add_executable(test_desktop_errorbox ${CMAKE_CURRENT_LIST_DIR}/errorbox.cpp)
ternbell_target(test_desktop_errorbox)
set_target_properties(test_desktop_errorbox PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
target_link_libraries(test_desktop_errorbox PRIVATE desktop GTest::gtest)
gtest_discover_tests(test_desktop_errorbox DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS desktop)

# The audible test waits for the sound server's output itself; the program
# maps Qt Multimedia only through the decoder module.
target_link_libraries(test_desktop_media_output PRIVATE Qt6::Multimedia)
