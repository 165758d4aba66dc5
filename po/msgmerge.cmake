foreach(_po ${CATALOGS})
  execute_process(COMMAND ${MSGMERGE} --quiet --update --backup=none --no-fuzzy-matching ${_po} ${POT}
                  RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "msgmerge failed on ${_po}")
  endif()
endforeach()
