# The windows laid out once more at one and a half times the scale.
gtest_discover_tests(test_app_window_fit DISCOVERY_MODE PRE_TEST TEST_SUFFIX .scaled
  PROPERTIES ENVIRONMENT "QT_SCALE_FACTOR=1.5"
             ENVIRONMENT_MODIFICATION "${TERNBELL_TEST_NO_BUS_SET}" LABELS app)

# Push in the field: a link of its own (network namespaces made before main)
# and imap4d beside Dovecot.
target_sources(test_app_push_field PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/PrivateLink.cpp
                                           ${PROJECT_SOURCE_DIR}/tests/support/Imap4d.cpp)
