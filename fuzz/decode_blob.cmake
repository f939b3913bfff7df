if(TARGET pagestore)
  thumb_fuzz(fuzz_decode_blob
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/DecodeBlobFuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/FuzzSupport.cpp
    LIBS pagestore platform)
endif()
