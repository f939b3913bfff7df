if(TARGET server_exports)
  thumb_fuzz(fuzz_pagestore_provider
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PageStoreProviderFuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/FuzzSupport.cpp
    LIBS server_exports)
endif()
