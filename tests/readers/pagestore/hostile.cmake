thumb_test(pagestore_hostile_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/HostileDocumentTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ZstdFrameBoundTest.cpp
  LIBS pagestore test_support
  LABELS readers)
