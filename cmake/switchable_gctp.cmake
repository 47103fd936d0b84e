# Builds GCTP's archive anew with its longitude step renamed, so that the
# transforms call the library's switchable step instead:
#   adjust_lon (GCTP's definition) -> gctp_library_adjust_lon
# Only the object that defines the step is changed; every caller keeps
# calling adjust_lon, which the library provides.
# Inputs: ARCHIVE, OUT, AR, OBJCOPY, NM.
set(work "${OUT}.d")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
execute_process(COMMAND "${AR}" x "${ARCHIVE}" WORKING_DIRECTORY "${work}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot unpack ${ARCHIVE}")
endif()
file(GLOB objects "${work}/*.o" "${work}/*.obj")
set(renamed FALSE)
foreach(object IN LISTS objects)
  execute_process(COMMAND "${NM}" --defined-only "${object}" OUTPUT_VARIABLE symbols ERROR_QUIET)
  if(symbols MATCHES "[ \t][Tt][ \t]+_?adjust_lon\n")
    execute_process(COMMAND "${OBJCOPY}" --redefine-sym adjust_lon=gctp_library_adjust_lon
                            --redefine-sym _adjust_lon=_gctp_library_adjust_lon "${object}"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot rename the longitude step in ${object}")
    endif()
    set(renamed TRUE)
  endif()
endforeach()
if(NOT renamed)
  message(FATAL_ERROR "no object of ${ARCHIVE} defines adjust_lon")
endif()
file(REMOVE "${OUT}")
execute_process(COMMAND "${AR}" rcs "${OUT}" ${objects} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot write ${OUT}")
endif()
file(REMOVE_RECURSE "${work}")
