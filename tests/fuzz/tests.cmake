# libFuzzer targets for what faces a peer or comes from a file, built with
# clang only. They link an instrumented build of the mail and platform
# libraries' own sources.
#
# The default run replays each target's seed corpus and what earlier runs
# found (label "fuzz"). Longer runs take a time budget in seconds:
#   ctest -C fuzz -L fuzz-long      (TERNBELL_FUZZ_SECONDS each, default 20)
# scripts/fuzz.sh runs every target for a given number of inputs.
if(TERNBELL_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(TERNBELL_FUZZ_SECONDS 20 CACHE STRING "Seconds per target of a long fuzz run")
  set(_fuzz_src ${CMAKE_CURRENT_LIST_DIR})
  set(_fuzz_out ${PROJECT_BINARY_DIR}/fuzz)
  set(_fuzz_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined
                  -fno-omit-frame-pointer)

  get_property(_mail_sources GLOBAL PROPERTY TERNBELL_SOURCES_mail)
  get_property(_platform_sources GLOBAL PROPERTY TERNBELL_SOURCES_platform)
  add_library(mail_fuzzing STATIC ${_mail_sources} ${_platform_sources})
  target_include_directories(mail_fuzzing PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(mail_fuzzing PRIVATE -fsanitize=fuzzer-no-link ${_fuzz_flags})
  target_link_libraries(mail_fuzzing PUBLIC Qt6::Core Iconv::Iconv OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
  set_target_properties(mail_fuzzing PROPERTIES AUTOMOC OFF)

  file(GLOB _targets CONFIGURE_DEPENDS ${_fuzz_src}/fuzz_*.cpp)
  foreach(_t ${_targets})
    get_filename_component(_exe ${_t} NAME_WE)
    string(REGEX REPLACE "^fuzz_" "" _what ${_exe})
    add_executable(${_exe} ${_t})
    target_compile_options(${_exe} PRIVATE -Wall -Wextra -fsanitize=fuzzer ${_fuzz_flags})
    target_link_options(${_exe} PRIVATE -fsanitize=fuzzer ${_fuzz_flags})
    target_link_libraries(${_exe} PRIVATE mail_fuzzing)
    if(_what STREQUAL "preview")
      # The preview helper's own sources, over the MIME library it links.
      target_sources(${_exe} PRIVATE ${TERNBELL_PREVIEW_SOURCES})
      target_include_directories(${_exe} PRIVATE ${TERNBELL_GENERATED_DIR})
      add_dependencies(${_exe} ternbell-named-references)
      target_link_libraries(${_exe} PRIVATE PkgConfig::GMIME)
    endif()
    if(_what STREQUAL "media_layout")
      # The media files' layout checks are the desktop's, but free of widgets.
      target_sources(${_exe} PRIVATE ${PROJECT_SOURCE_DIR}/src/desktop/MediaLayout.cpp)
      target_link_libraries(${_exe} PRIVATE Qt6::Gui)
    endif()
    if(_what STREQUAL "oauth_json")
      # The authorization server's documents, read with the catalogs' lookup.
      get_property(_i18n_sources GLOBAL PROPERTY TERNBELL_SOURCES_i18n)
      target_sources(${_exe} PRIVATE ${PROJECT_SOURCE_DIR}/src/oauth/OAuthJson.cpp ${_i18n_sources})
    endif()
    if(_what STREQUAL "autoconfig")
      # The configuration file reader is Find's, free of the network.
      target_sources(${_exe} PRIVATE ${PROJECT_SOURCE_DIR}/src/find/Autoconfig.cpp
                                     ${PROJECT_SOURCE_DIR}/src/find/FoundServer.cpp)
    endif()
    set_target_properties(${_exe} PROPERTIES AUTOMOC OFF RUNTIME_OUTPUT_DIRECTORY ${_fuzz_out})
    # New inputs go to the build tree; the seeds in the source tree stay as they are.
    file(MAKE_DIRECTORY ${_fuzz_out}/corpus-${_what})
    set(_corpus ${_fuzz_out}/corpus-${_what})
    if(IS_DIRECTORY ${_fuzz_src}/corpus/${_what})
      list(APPEND _corpus ${_fuzz_src}/corpus/${_what})
    endif()
    set(_args -timeout=5 -max_len=8192 -rss_limit_mb=2048 -artifact_prefix=${_fuzz_out}/${_what}-)
    add_test(NAME fuzz_${_what} COMMAND ${_exe} -runs=0 ${_args} ${_corpus})
    set_tests_properties(fuzz_${_what} PROPERTIES LABELS fuzz TIMEOUT 120)
    add_test(NAME fuzz_long_${_what} CONFIGURATIONS fuzz
             COMMAND ${_exe} -max_total_time=${TERNBELL_FUZZ_SECONDS} -print_final_stats=1 ${_args}
                     ${_corpus})
    set_tests_properties(fuzz_long_${_what} PROPERTIES LABELS fuzz-long TIMEOUT 3600)
  endforeach()
endif()
