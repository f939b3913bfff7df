# The short soak: a few thousand requests and a hundred short-lived threads, seconds here.
# scripts/soak runs the long one. Not with sanitizers, which make the process's size meaningless.
if(TARGET server_exports AND TARGET test_support AND TARGET archive_writer AND THUMB_SANITIZE STREQUAL "")
  add_executable(soak_tests ${CMAKE_CURRENT_LIST_DIR}/SoakTest.cpp)
  target_link_libraries(soak_tests PRIVATE server_exports test_support archive_writer GTest::gtest Threads::Threads)
  set_property(GLOBAL APPEND PROPERTY THUMB_TARGETS_soak soak_tests)
  set_property(GLOBAL APPEND PROPERTY THUMB_LABELS soak)
  gtest_discover_tests(soak_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "server;soak" TIMEOUT 300)
endif()
