thumb_test(text_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UnicodeToUtf8Test.cpp ${CMAKE_CURRENT_LIST_DIR}/Utf8KernelsTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/WideStringCheck.cpp
  LIBS text
  LABELS text)
