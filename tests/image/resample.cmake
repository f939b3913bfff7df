thumb_test(resample_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ResampleTest.cpp LIBS image LABELS image)
