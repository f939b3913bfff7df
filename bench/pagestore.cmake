# ReadPageStoreThumbnail on zstd previews against bare zstd decompression of the same frames.
if(TARGET test_support)
  thumb_bench(pagestore_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/PageStoreBench.cpp LIBS pagestore test_support)
endif()
