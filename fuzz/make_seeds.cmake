# make_fuzz_seeds: regenerates the seed corpora from the test writers (normal builds only,
# where the writers exist). Run: make_fuzz_seeds fuzz/corpus
if(TARGET test_support AND TARGET archive_writer)
  add_executable(make_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/MakeSeeds.cpp ${CMAKE_CURRENT_LIST_DIR}/FuzzSupport.cpp)
  target_link_libraries(make_fuzz_seeds PRIVATE test_support archive_writer platform)
endif()
