# GCTP, linked statically with its longitude step made switchable.
# GCTP_ARCHIVE may name a libgctp.a built elsewhere (the Windows build does).
if(NOT GCTP_ARCHIVE)
  find_library(GCTP_ARCHIVE NAMES libgctp.a REQUIRED)
endif()
find_program(NVCH_NM NAMES ${CMAKE_NM} nm REQUIRED)
set(GCTP_SWITCHABLE "${CMAKE_BINARY_DIR}/gctp/libgctp_switchable.a")
add_custom_command(
  OUTPUT "${GCTP_SWITCHABLE}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/gctp"
  COMMAND ${CMAKE_COMMAND} -DARCHIVE=${GCTP_ARCHIVE} -DOUT=${GCTP_SWITCHABLE} -DAR=${CMAKE_AR}
          -DOBJCOPY=${CMAKE_OBJCOPY} -DNM=${NVCH_NM} -P "${CMAKE_SOURCE_DIR}/cmake/switchable_gctp.cmake"
  DEPENDS "${GCTP_ARCHIVE}" "${CMAKE_SOURCE_DIR}/cmake/switchable_gctp.cmake"
  COMMENT "Making GCTP's longitude step switchable")
add_custom_target(gctp_switchable_archive DEPENDS "${GCTP_SWITCHABLE}")
add_library(gctp_switchable STATIC IMPORTED GLOBAL)
set_target_properties(gctp_switchable PROPERTIES IMPORTED_LOCATION "${GCTP_SWITCHABLE}")
add_dependencies(gctp_switchable gctp_switchable_archive)

add_library(nvch_gctp INTERFACE)
target_link_libraries(nvch_gctp INTERFACE gctp_switchable)
