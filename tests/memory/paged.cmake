thumb_test(paged_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PagedFilesTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PagedPagerTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PagedAllocatorTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PagedImageTest.cpp
  LIBS image memory
  LABELS memory)
