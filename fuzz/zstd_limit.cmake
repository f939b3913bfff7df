if(TARGET pagestore)
  thumb_fuzz(fuzz_zstd_limit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZstdLimitFuzz.cpp
    LIBS pagestore)
endif()
