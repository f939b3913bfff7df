thumb_test(fuzz_input_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FuzzInputTest.cpp ${CMAKE_SOURCE_DIR}/fuzz/FuzzSupport.cpp
  LIBS pagestore platform
  LABELS fuzz)
if(TARGET fuzz_input_tests)
  target_compile_definitions(fuzz_input_tests PRIVATE THUMB_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
