if(TARGET server AND TARGET test_support)
  thumb_test(paged_thumbnail_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PagedThumbnailTest.cpp
    LIBS server test_support
    LABELS memory)
endif()
