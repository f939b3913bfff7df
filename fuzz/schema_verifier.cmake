if(TARGET schema)
  thumb_fuzz(fuzz_schema_verifier
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/SchemaVerifierFuzz.cpp
    LIBS schema)
endif()
