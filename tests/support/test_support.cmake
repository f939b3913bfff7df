# test_support: the page-store document writer and test streams. Test code only, never part of
# the DLL. Other test programs, fuzz seeds, benchmarks and the sample documents link it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TEST_SUPPORT_ZSTD REQUIRED IMPORTED_TARGET libzstd)

add_library(test_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PageStoreWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DocumentWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FaultyStream.cpp)
target_link_libraries(test_support PUBLIC schema platform PkgConfig::TEST_SUPPORT_ZSTD)

# make_kwb_document: writes a page-store document (or with --archive a layered archive) from a
# PNG file or a generated picture.
find_package(PNG)
if(PNG_FOUND)
  add_executable(make_kwb_document ${CMAKE_CURRENT_LIST_DIR}/MakeKwbDocument.cpp)
  target_link_libraries(make_kwb_document PRIVATE test_support archive_writer PNG::PNG)
endif()
