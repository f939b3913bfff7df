# mimalloc is loaded at run time (see the source), so it is not linked here.
thumb_bench(memory_pool_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/MemoryPoolBench.cpp
  LIBS memory ${CMAKE_DL_LIBS})
