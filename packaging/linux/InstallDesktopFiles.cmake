# Runs at install time (cmake --install), after the program and the MIME package are in place.

# Thumbnailer entries normally hold a bare program name, which only works when the program is
# on the file manager's PATH; from any other prefix the entry gives the full path.
if(IS_ABSOLUTE "${KWBTHUMB_BINDIR}")
  set(bindir "${KWBTHUMB_BINDIR}")
else()
  set(bindir "${CMAKE_INSTALL_PREFIX}/${KWBTHUMB_BINDIR}")
endif()
if(IS_ABSOLUTE "${KWBTHUMB_DATADIR}")
  set(datadir "${KWBTHUMB_DATADIR}")
else()
  set(datadir "${CMAKE_INSTALL_PREFIX}/${KWBTHUMB_DATADIR}")
endif()
if(bindir STREQUAL "/usr/bin" OR bindir STREQUAL "/usr/local/bin")
  set(KWBTHUMB_COMMAND kwbthumb)
else()
  set(KWBTHUMB_COMMAND "${bindir}/kwbthumb")
endif()
configure_file("${KWBTHUMB_TEMPLATE}" "${KWBTHUMB_STAGING}/kwbthumb.thumbnailer" @ONLY)
file(INSTALL DESTINATION "${datadir}/thumbnailers" TYPE FILE FILES "${KWBTHUMB_STAGING}/kwbthumb.thumbnailer")

# A staged install (DESTDIR, e.g. for a distribution package) leaves the MIME database to the
# package manager's trigger; a direct one brings it up to date so the type is known at once.
if(KWBTHUMB_UPDATE_MIME)
  find_program(update_mime update-mime-database)
  if(NOT "$ENV{DESTDIR}" STREQUAL "")
    message(STATUS "DESTDIR is set: update-mime-database left to the package manager")
  elseif(NOT update_mime)
    message(WARNING "update-mime-database not found (package shared-mime-info): run it on ${datadir}/mime")
  else()
    message(STATUS "update-mime-database ${datadir}/mime")
    execute_process(COMMAND "${update_mime}" "${datadir}/mime" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "update-mime-database ${datadir}/mime failed (${status})")
    endif()
  endif()
endif()
