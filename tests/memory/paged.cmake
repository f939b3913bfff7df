thumb_test(paged_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PagedFilesTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PagedPagerTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PagedAllocatorTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PagedImageTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PagedStressTest.cpp
  LIBS image memory
  LABELS memory)
