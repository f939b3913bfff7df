thumb_test(schema_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SchemaTest.cpp
  LIBS schema test_support
  LABELS readers)
