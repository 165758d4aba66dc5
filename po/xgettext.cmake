# Extracts the texts marked with the lookup keywords from every source file.
# Shared by the `pot` target and the template's completeness test.
file(GLOB_RECURSE _sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h)
list(SORT _sources)
execute_process(
  COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword=ResStr --keyword=ResText
          --keyword=N_ --package-name=ternbell --msgid-bugs-address= -o ${OUTPUT} ${_sources}
  WORKING_DIRECTORY ${SOURCE_DIR}
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
