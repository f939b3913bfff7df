# fuzz_preview_bands: the band read against the whole-blob decode. It takes the page-store
# provider's input layout, and its seeds and regressions.
if(TARGET pagestore)
  thumb_fuzz(fuzz_preview_bands
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PreviewBandsFuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/FuzzSupport.cpp
    LIBS pagestore platform
    SEEDS fuzz_pagestore_provider)
endif()
