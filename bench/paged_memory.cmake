# Handle-backed image memory: the cost of pinning with the switch off (the server's case), a
# lock of resident memory, and a 64 KiB page-out/page-in round trip through the pager file.
thumb_bench(paged_memory_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/PagedMemoryBench.cpp LIBS image memory)
