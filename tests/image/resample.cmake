thumb_test(resample_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ResampleTest.cpp LIBS image LABELS image)
thumb_test(band_resampler_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/BandResamplerTest.cpp LIBS image LABELS image)
