# libFuzzer targets for the header and IMAP4 reply parsers, built with clang only. Each one
# compiles the parser sources itself with the sanitizers (the mail archive is
# not instrumented), and a short fixed run of each is a CTest test, label "fuzz".
if(TERNBELL_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(_fuzz_src ${CMAKE_CURRENT_LIST_DIR})
  set(_fuzz_out ${PROJECT_BINARY_DIR}/fuzz)
  set(_fuzz_parsers
      ${PROJECT_SOURCE_DIR}/src/mail/IdEMailAddress.cpp
      ${PROJECT_SOURCE_DIR}/src/mail/IdCoderHeader.cpp
      ${PROJECT_SOURCE_DIR}/src/mail/IdHeaderList.cpp
      ${PROJECT_SOURCE_DIR}/src/mail/IdMessage.cpp
      ${PROJECT_SOURCE_DIR}/src/mail/IdReply.cpp
      ${PROJECT_SOURCE_DIR}/src/mail/Imap4Reply.cpp
      ${PROJECT_SOURCE_DIR}/src/platform/CodePage.cpp)
  set(_fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
                  -fno-omit-frame-pointer)
  foreach(_what address decode headers imap4_reply imap4_fetch imap4_parts)
    set(_exe fuzz_${_what})
    add_executable(${_exe} ${_fuzz_src}/fuzz_${_what}.cpp ${_fuzz_parsers})
    target_include_directories(${_exe} PRIVATE ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(${_exe} PRIVATE -Wall -Wextra ${_fuzz_flags})
    target_link_options(${_exe} PRIVATE ${_fuzz_flags})
    # Qt only for the code page module's Unicode helpers, which the targets never call.
    target_link_libraries(${_exe} PRIVATE Qt6::Core Iconv::Iconv)
    set_target_properties(${_exe} PROPERTIES AUTOMOC OFF RUNTIME_OUTPUT_DIRECTORY ${_fuzz_out})
    # New inputs go to the build tree; the seeds in the source tree stay as they are.
    file(MAKE_DIRECTORY ${_fuzz_out}/corpus-${_what})
    add_test(NAME fuzz_${_what}
             COMMAND ${_exe} -max_total_time=20 -timeout=5 -max_len=8192 -rss_limit_mb=2048
                     -print_final_stats=1 -artifact_prefix=${_fuzz_out}/${_what}-
                     ${_fuzz_out}/corpus-${_what} ${_fuzz_src}/corpus/${_what})
    set_tests_properties(fuzz_${_what} PROPERTIES LABELS fuzz TIMEOUT 120)
  endforeach()
endif()
