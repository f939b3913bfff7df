thumb_test(pagestore_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/PageStoreTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BlobTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReadPageStoreThumbnailTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PreviewBandsTest.cpp
  LIBS pagestore test_support
  LABELS readers)
