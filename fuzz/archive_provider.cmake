if(TARGET server_exports)
  thumb_fuzz(fuzz_archive_provider
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ArchiveProviderFuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/FuzzSupport.cpp
    LIBS server_exports)
endif()
