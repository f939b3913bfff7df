# cmake -DSOURCE_DIR= -DOUT= -DVERSION= -DMAINTAINER= -DGZIP= -P DebianDocs.cmake
# Writes OUT/copyright in Debian's machine-readable format from LICENSE and
# THIRD-PARTY-NOTICES.md, and OUT/changelog.gz for the version.
file(MAKE_DIRECTORY "${OUT}")

# A field's continuation lines start with a space; an empty line becomes " .". Done on the
# whole text, not as a CMake list, so that ";" and "[" in the text stay as they are.
function(as_field_text text out)
  string(REPLACE "\r" "" text "${text}")
  string(REGEX REPLACE "[ \t]+\n" "\n" text "${text}")
  string(REGEX REPLACE "[ \t\n]+$" "" text "${text}")
  string(REGEX REPLACE "^\n+" "" text "${text}")
  string(REPLACE "\n" "\n " text "\n${text}")
  set(previous "")
  while(NOT previous STREQUAL text)
    set(previous "${text}")
    string(REPLACE "\n \n" "\n .\n" text "${text}")
  endwhile()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(license "${SOURCE_DIR}/LICENSE")
set(notices "${SOURCE_DIR}/THIRD-PARTY-NOTICES.md")
if(NOT EXISTS "${license}")
  message(FATAL_ERROR "${license} is missing: the packages need the project's licence")
endif()
file(READ "${license}" license_text)
# The MIT licence's own notice line names the holders.
string(REGEX MATCH "Copyright[^\n]*" holder "${license_text}")
string(REGEX REPLACE "^Copyright *(\\(c\\)|©)? *" "" holder "${holder}")
if(holder STREQUAL "")
  message(FATAL_ERROR "${license} has no Copyright line")
endif()
# The licence text proper: what follows the notice line.
string(REGEX REPLACE "^.*Copyright[^\n]*\n+" "" terms "${license_text}")
as_field_text("${terms}" terms)

set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: kwbthumb
Upstream-Contact: ${MAINTAINER}

Files: *
Copyright: ${holder}
License: Expat
")
# A licence section of the notices ("Title" over a line of dashes) whose licence Debian ships
# in /usr/share/common-licenses gets a reference there instead of the full text, as Debian's
# policy asks.
function(refer_to_common_license text_var title license)
  set(text "${${text_var}}")
  string(FIND "${text}" "\n${title}" at)
  if(at EQUAL -1)
    return()
  endif()
  string(SUBSTRING "${text}" 0 ${at} before)
  string(SUBSTRING "${text}" ${at} -1 rest)
  string(REGEX MATCH "^\n[^\n]*\n---+\n" heading "${rest}")
  string(LENGTH "${heading}" length)
  string(SUBSTRING "${rest}" ${length} -1 rest)
  set(after "")
  string(REGEX MATCH "\n[^\n]+\n---+\n" next "${rest}")
  if(next)
    string(FIND "${rest}" "${next}" next_at)
    string(SUBSTRING "${rest}" ${next_at} -1 after)
  endif()
  set(${text_var} "${before}${heading}\nOn Debian systems the complete text of this licence is in\n/usr/share/common-licenses/${license}.\n${after}" PARENT_SCOPE)
endfunction()

if(EXISTS "${notices}")
  file(READ "${notices}" notices_text)
  refer_to_common_license(notices_text "Apache-2.0" Apache-2.0)
  as_field_text("${notices_text}" notices_text)
  string(APPEND copyright "Comment: The notices of the third-party software the programs are built with follow.${notices_text}\n")
endif()
string(APPEND copyright "\nLicense: Expat${terms}\n")
file(WRITE "${OUT}/copyright" "${copyright}")

# A native package's changelog: one entry for the version being packaged.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)  # SOURCE_DATE_EPOCH when set
file(WRITE "${OUT}/changelog" "kwbthumb (${VERSION}) unstable; urgency=medium

  * Release ${VERSION}.

 -- ${MAINTAINER}  ${date}
")
execute_process(COMMAND "${GZIP}" -9nf "${OUT}/changelog" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${OUT}/changelog")
endif()
