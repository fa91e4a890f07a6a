# End-to-end test of the device simulator (tools/devsim), run inside the
# private network namespace. Include this file from tests/e2e/CMakeLists.txt:
#   include(${CMAKE_CURRENT_SOURCE_DIR}/devsim_tests.cmake)
# A Windows build runs the simulator under its emulator (Wine), which stops
# it with Ctrl+C (SIGINT) instead of a termination request.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND AND TARGET orven-devsim)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(devsim_stop --stop-signal INT)
  else()
    set(devsim_stop)
  endif()
  add_test(NAME devsim_e2e
           COMMAND ${ORVEN_ISOLATED_NET} ${Python3_EXECUTABLE}
                   ${CMAKE_CURRENT_LIST_DIR}/devsim_test.py ${devsim_stop}
                   ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:orven-devsim>)
  set_tests_properties(devsim_e2e PROPERTIES LABELS "netns;e2e" RUN_SERIAL TRUE TIMEOUT 180)
endif()
