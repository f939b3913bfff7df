# The desktop install: cmake --install into temporary prefixes, checked file by file.
if(TARGET kwbthumb AND EXISTS ${CMAKE_SOURCE_DIR}/packaging/CMakeLists.txt)
  add_test(NAME InstallLayout.Desktop
           COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
                   -DWORK=${CMAKE_CURRENT_BINARY_DIR}/install-layout
                   "-DKIO_PLUGIN_DIR=$<$<TARGET_EXISTS:kwbthumbnail>:${THUMB_KIO_PLUGIN_DIR}>"
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/install/InstallLayoutTest.cmake)
  set_tests_properties(InstallLayout.Desktop PROPERTIES LABELS tools TIMEOUT 120)
endif()
