# Find against a private network of real servers: one process, so the
# servers start once for all of its tests.
ternbell_test_support(testworld ${_support}/PrivateWorld.cpp)
target_link_libraries(testworld PUBLIC testdovecot)
add_executable(test_find_world ${CMAKE_CURRENT_LIST_DIR}/world_lookups.cpp)
ternbell_target(test_find_world)
set_target_properties(test_find_world PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
target_link_libraries(test_find_world PRIVATE find testworld testcoremain)
add_dependencies(test_find_world ternbell-finder)
add_test(NAME find_world COMMAND test_find_world)
set_tests_properties(find_world PROPERTIES LABELS find TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                     ENVIRONMENT_MODIFICATION "${TERNBELL_TEST_NO_BUS_SET}")

# The whole way from the address to the first check, through the real
# windows, in the same kind of private network.
add_executable(test_find_end_to_end ${CMAKE_CURRENT_LIST_DIR}/world_end_to_end.cpp)
ternbell_target(test_find_end_to_end)
set_target_properties(test_find_end_to_end PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
find_package(Qt6 REQUIRED COMPONENTS Test)
target_link_libraries(test_find_end_to_end PRIVATE testworld testui Qt6::Test)
add_dependencies(test_find_end_to_end ternbell-finder)
add_test(NAME find_end_to_end COMMAND test_find_end_to_end)
set_tests_properties(find_end_to_end PROPERTIES LABELS "find;e2e" TIMEOUT 300
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                     ENVIRONMENT_MODIFICATION "${TERNBELL_TEST_NO_BUS_SET}")


# The provider table's generator, on files of its own.
add_test(NAME find_provider_table
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/provider_table_test.py ${PROJECT_SOURCE_DIR}/scripts)
set_tests_properties(find_provider_table PROPERTIES LABELS find)
