# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK=... -P InstallLayoutTest.cmake
# Installs the desktop component staged (DESTDIR) and directly, and checks what lands where.
# check(MESSAGE CONDITION...): counts a failure unless the if() condition holds.
set(failures 0)
function(check message)
  if(NOT (${ARGN}))
    message(SEND_ERROR "FAIL: ${message}")
    math(EXPR n "${failures} + 1")
    set(failures ${n} PARENT_SCOPE)
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# install(STAGE PREFIX): cmake --install with DESTDIR=STAGE (none when empty).
function(install_desktop stage prefix)
  set(components desktop)
  if(KIO_PLUGIN_DIR)
    list(APPEND components kde)
  endif()
  foreach(component ${components})
    execute_process(COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${stage}"
                            ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" --component ${component}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "cmake --install --prefix ${prefix} (DESTDIR '${stage}') failed:\n${out}")
    endif()
  endforeach()
endfunction()

function(expect_thumbnailer file command)
  file(READ "${file}" text)
  set(expected "[Thumbnailer Entry]\nTryExec=${command}\nExec=${command} -s %s %i %o\nMimeType=application/x-kwb;application/x-rvn;\n")
  if(NOT text STREQUAL expected)
    message(SEND_ERROR "FAIL: ${file} holds\n${text}\nexpected\n${expected}")
    math(EXPR n "${failures} + 1")
    set(failures ${n} PARENT_SCOPE)
  endif()
endfunction()

# Staged, as a distribution package would: a bare command for the standard prefixes, a full
# path elsewhere, and the MIME database left to the package manager.
foreach(case "/usr|kwbthumb" "/usr/local|kwbthumb" "/opt/kwb|/opt/kwb/bin/kwbthumb")
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 prefix)
  list(GET case 1 command)
  set(stage "${WORK}/stage${prefix}")
  install_desktop("${stage}" "${prefix}")
  set(root "${stage}${prefix}")
  check("${prefix}: no bin/kwbthumb" EXISTS "${root}/bin/kwbthumb" AND NOT IS_DIRECTORY "${root}/bin/kwbthumb")
  execute_process(COMMAND "${root}/bin/kwbthumb" --help RESULT_VARIABLE status OUTPUT_QUIET)
  check("${prefix}: the installed kwbthumb does not run (${status})" status EQUAL 0)
  expect_thumbnailer("${root}/share/thumbnailers/kwbthumb.thumbnailer" "${command}")
  check("${prefix}: no MIME package" EXISTS "${root}/share/mime/packages/kwbthumb.xml")
  check("${prefix}: the database was built inside DESTDIR" NOT EXISTS "${root}/share/mime/mime.cache")
  # With THUMB_KIO_PLUGIN, the KIO plugin goes where Qt keeps its plugins under its prefix.
  if(KIO_PLUGIN_DIR)
    check("${prefix}: no ${KIO_PLUGIN_DIR}/kwbthumbnail.so" EXISTS "${root}/${KIO_PLUGIN_DIR}/kwbthumbnail.so")
  endif()
endforeach()

# The MIME package declares the type by name and by the first bytes.
file(READ "${SOURCE_DIR}/packaging/linux/kwbthumb.xml" xml)
foreach(needle [[<mime-type type="application/x-kwb">]] [[<glob pattern="*.kwb"/>]]
               [[<match type="string" offset="0" value="hzd"/>]]
               [[<mime-type type="application/x-rvn">]] [[<glob pattern="*.rvn"/>]]
               [[<match type="string" offset="0" value="rvnpack"/>]])
  string(FIND "${xml}" "${needle}" at)
  check("kwbthumb.xml lacks ${needle}" at GREATER -1)
endforeach()

# install-linux answers --help on standard output and succeeds; a bad option is a usage error.
execute_process(COMMAND "${SOURCE_DIR}/scripts/install-linux" --help
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
check("install-linux --help exits ${status}" status EQUAL 0)
check("install-linux --help prints no usage on standard output" out MATCHES "^usage: scripts/install-linux")
check("install-linux --help writes to standard error: ${err}" NOT err)
execute_process(COMMAND "${SOURCE_DIR}/scripts/install-linux" --bogus RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
check("install-linux --bogus exits ${status}" status EQUAL 2)

# Directly into a prefix: the database is brought up to date and knows the type; uninstalling
# takes the files away and the type out of the database.
find_program(update_mime update-mime-database)
if(update_mime)
  set(prefix "${WORK}/direct")
  install_desktop("" "${prefix}")
  check("direct install: no MIME database" EXISTS "${prefix}/share/mime/mime.cache")
  file(READ "${prefix}/share/mime/types" types)
  check("direct install: the database lacks application/x-kwb" types MATCHES "application/x-kwb")
  check("direct install: the database lacks application/x-rvn" types MATCHES "application/x-rvn")
  expect_thumbnailer("${prefix}/share/thumbnailers/kwbthumb.thumbnailer" "${prefix}/bin/kwbthumb")
  if(KIO_PLUGIN_DIR)
    check("direct install: no KIO plugin" EXISTS "${prefix}/${KIO_PLUGIN_DIR}/kwbthumbnail.so")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env "THUMB_LINUX_BUILD=${BUILD_DIR}" "${SOURCE_DIR}/scripts/install-linux" --uninstall "${prefix}"
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  check("install-linux --uninstall failed (${status})" status EQUAL 0)
  set(installed bin/kwbthumb share/thumbnailers/kwbthumb.thumbnailer share/mime/packages/kwbthumb.xml)
  if(KIO_PLUGIN_DIR)
    list(APPEND installed "${KIO_PLUGIN_DIR}/kwbthumbnail.so")
  endif()
  # The prefix was empty: everything in it was ours, the MIME database made from our package
  # and the folders included.
  file(GLOB_RECURSE left LIST_DIRECTORIES true "${prefix}/*")
  check("uninstall left ${left}" NOT left)
else()
  message(STATUS "update-mime-database not installed: direct install not checked")
endif()

file(REMOVE_RECURSE "${WORK}")
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} failure(s)")
endif()
