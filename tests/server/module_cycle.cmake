# Loads the shared object itself, so it needs one. Not with sanitizers: their shadow memory and
# quarantine make the process's size meaningless (pool_unload_tests covers the tear-down there).
if(TARGET RvtThumbDll AND NOT WIN32 AND TARGET test_support AND THUMB_SANITIZE STREQUAL "")
  add_executable(module_cycle_tests ${CMAKE_CURRENT_LIST_DIR}/ModuleCycleTest.cpp)
  target_link_libraries(module_cycle_tests PRIVATE test_support platform GTest::gtest Threads::Threads ${CMAKE_DL_LIBS})
  target_compile_definitions(module_cycle_tests PRIVATE RVT_THUMB_DLL_PATH="$<TARGET_FILE:RvtThumbDll>")
  add_dependencies(module_cycle_tests RvtThumbDll)
  set_property(GLOBAL APPEND PROPERTY THUMB_TARGETS_server module_cycle_tests)
  gtest_discover_tests(module_cycle_tests DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "server;unload" TIMEOUT 300)
endif()
