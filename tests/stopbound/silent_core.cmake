# Fails when an archive of the engine (ARCHIVES, ;-separated) calls what a
# library must not: ending the process (exit, abort, a failing assert) or
# writing to the standard streams. The language packages link these sources
# into R and Python, where that would end or garble the caller's session.
execute_process(COMMAND ${NM} -u ${ARCHIVES} OUTPUT_VARIABLE undefined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${ARCHIVES}")
endif()
string(REGEX MATCHALL
  "[ \t](exit|_exit|_Exit|abort|__assert_fail|printf|vprintf|puts|putchar|stdout|stderr|_ZSt4cout|_ZSt4cerr)\n"
  found "${undefined}")
if(found)
  message(FATAL_ERROR "the engine calls ${found}")
endif()
