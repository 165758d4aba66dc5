# The windows laid out once more at one and a half times the scale.
gtest_discover_tests(test_app_window_fit DISCOVERY_MODE PRE_TEST TEST_SUFFIX .scaled
  PROPERTIES ENVIRONMENT "QT_SCALE_FACTOR=1.5"
             ENVIRONMENT_MODIFICATION "${TERNBELL_TEST_NO_BUS_SET}" LABELS app)
