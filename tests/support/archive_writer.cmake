# Layered-archive writer for tests, samples and benchmarks (test code, not part of the DLL).
find_package(ZLIB REQUIRED)
add_library(archive_writer STATIC ${CMAKE_CURRENT_SOURCE_DIR}/archive/ArchiveWriter.cpp)
target_link_libraries(archive_writer PUBLIC ZLIB::ZLIB)
