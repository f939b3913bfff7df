# whole_preview: the provider's thumbnail made from a whole preview image, as it was made before
# previews were streamed; the oracle of the provider's tests and its peer in benchmarks.
if(TARGET server)
  add_library(whole_preview STATIC ${CMAKE_CURRENT_LIST_DIR}/WholePreviewThumbnail.cpp)
  target_link_libraries(whole_preview PUBLIC server image platform)
endif()
