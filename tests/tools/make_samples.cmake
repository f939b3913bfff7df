# make_samples: writes the bundled sample documents (scripts/demo runs it).
if(TARGET test_support AND TARGET archive_writer)
  add_executable(make_samples ${CMAKE_CURRENT_SOURCE_DIR}/MakeSamples.cpp)
  target_link_libraries(make_samples PRIVATE test_support archive_writer)
endif()
