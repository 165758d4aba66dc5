# Header text once more under a German desktop in UTF-8 and under two legacy
# locales (scripts/setup.sh generates them), each with the code page expected.
foreach(_locale de_DE.UTF-8=UTF-8 de_DE.ISO-8859-1=ISO-8859-1 ru_RU.KOI8-R=KOI8-R)
  string(REPLACE "=" ";" _parts ${_locale})
  list(GET _parts 0 _name)
  list(GET _parts 1 _page)
  add_test(NAME mail_desktop_text_${_name} COMMAND test_mail_message --gtest_filter=DesktopText.*)
  set_tests_properties(mail_desktop_text_${_name} PROPERTIES
    ENVIRONMENT "LC_ALL=${_name};TERNBELL_TEST_CODE_PAGE=${_page}" LABELS mail TIMEOUT 60)
endforeach()
