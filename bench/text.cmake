thumb_bench(text_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/TextBench.cpp LIBS text)
