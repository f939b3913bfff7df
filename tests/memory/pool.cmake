thumb_test(pool_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PoolTest.cpp ${CMAKE_CURRENT_LIST_DIR}/PoolStressTest.cpp
  LIBS memory
  LABELS memory)

# Block addresses depend on nothing having been allocated before, so this case has a process
# of its own.
thumb_test(pool_fresh_process_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PoolFreshProcessTest.cpp
  LIBS memory
  LABELS memory)

# Tears the process-wide pools down, as a module unload does, so it has a process of its own.
thumb_test(pool_unload_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PoolUnloadTest.cpp
  LIBS memory
  LABELS memory)

# Regions without VirtualAlloc2, and images when the address space runs out (a child process
# with a limit of its own).
thumb_test(address_space_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/AddressSpaceTest.cpp
  LIBS image
  LABELS memory)
