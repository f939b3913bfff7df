thumb_test(archive_reader_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/ArchiveReaderTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/XmlParseBoundsTest.cpp
  LIBS archive archive_writer
  LABELS readers)
