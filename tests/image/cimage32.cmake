thumb_test(cimage32_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CImage32Test.cpp
  LIBS image
  LABELS image)
