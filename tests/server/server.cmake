if(TARGET server_exports)
  thumb_test(server_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ProviderTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ServerTest.cpp
    LIBS server_exports
    LABELS server)
  thumb_test(band_provider_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/BandProviderTest.cpp
    LIBS server_exports test_support whole_preview
    LABELS server)
  # Concurrent requests share the image pools across threads: the TSan leg runs the memory label.
  thumb_test(provider_thread_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ProviderThreadTest.cpp
    LIBS server_exports test_support
    LABELS server memory)
endif()
