if(TARGET kwbthumb AND TARGET test_support)
  find_package(PNG REQUIRED)
  thumb_test(kwbthumb_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/KwbthumbTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/KwbthumbFilesTest.cpp
    LIBS server_exports test_support archive_writer PNG::PNG
    LABELS tools)
  if(TARGET kwbthumb_tests)
    target_compile_definitions(kwbthumb_tests PRIVATE KWBTHUMB_PATH="$<TARGET_FILE:kwbthumb>"
                               THUMB_VERSION_FILE="${CMAKE_SOURCE_DIR}/VERSION")
    add_dependencies(kwbthumb_tests kwbthumb)
  endif()
endif()
