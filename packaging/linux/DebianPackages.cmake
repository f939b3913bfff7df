# The two Debian packages, made by CPack's DEB generator from the install components:
#   kwbthumb      (component desktop) the command, its manual page, the MIME types and the
#                 thumbnailer entry
#   kwbthumb-kde  (component kde)     the KIO thumbnail plugin, depending on kwbthumb
# scripts/package-linux configures with THUMB_DEBIAN_PACKAGES=ON, the prefix /usr and
# Debian's build flags, builds and runs cpack. Each package carries its own copyright file
# (machine-readable, made from LICENSE and THIRD-PARTY-NOTICES.md) and changelog.gz in
# /usr/share/doc/<package>, as Debian's policy asks.

set(KWBTHUMB_MAINTAINER "kwbthumb maintainers <maintainers@kwbthumb.example.org>")
set(doc_staging ${CMAKE_CURRENT_BINARY_DIR}/debian-doc)

# copyright: the project's licence for every file, the notices of what is linked in
# statically as the comment that goes with it.
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT ${doc_staging}/copyright ${doc_staging}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUT=${doc_staging}
          -DVERSION=${PROJECT_VERSION} "-DMAINTAINER=${KWBTHUMB_MAINTAINER}" -DGZIP=${GZIP_PROGRAM}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/linux/DebianDocs.cmake
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/linux/DebianDocs.cmake ${CMAKE_SOURCE_DIR}/VERSION
          ${THUMB_LICENSE_FILES}
  COMMENT "Debian copyright and changelog"
  VERBATIM)
add_custom_target(kwbthumb_debian_docs ALL DEPENDS ${doc_staging}/copyright ${doc_staging}/changelog.gz)
foreach(component_package "desktop|kwbthumb" "kde|kwbthumb-kde")
  string(REPLACE "|" ";" component_package "${component_package}")
  list(GET component_package 0 component)
  list(GET component_package 1 package)
  install(FILES ${doc_staging}/copyright ${doc_staging}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kwbthumb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KWBTHUMB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desktop kde)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE "")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME kwbthumb)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "shared-mime-info")
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
"thumbnails of painting documents for desktop file managers
The preview stored in page-store documents (.kwb) and layered archives
(.rvn) of a raster painting application, shown as the files' thumbnails
in GNOME Files and other file managers that use freedesktop thumbnailers.
.
This package holds the command-line thumbnailer kwbthumb, its manual page,
the MIME types of both document kinds and the thumbnailer entry.")

set(CPACK_DEBIAN_KDE_PACKAGE_NAME kwbthumb-kde)
set(CPACK_DEBIAN_KDE_PACKAGE_SECTION kde)
set(CPACK_DEBIAN_KDE_PACKAGE_DEPENDS "kwbthumb (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_KDE_PACKAGE_RECOMMENDS "kio-extras")
set(CPACK_COMPONENT_KDE_DESCRIPTION
"thumbnails of painting documents for KDE's file manager
The preview stored in page-store documents (.kwb) and layered archives
(.rvn) of a raster painting application, shown as the files' thumbnails
in Dolphin and other programs that use KIO's previews.
.
This package holds the KIO thumbnail plugin; the MIME types come with
kwbthumb.")

include(CPack)
