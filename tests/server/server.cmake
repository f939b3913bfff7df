if(TARGET server_exports)
  thumb_test(server_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ProviderTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ServerTest.cpp
    LIBS server_exports
    LABELS server)
endif()
