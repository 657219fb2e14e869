# add_qt_test(<name> SOURCES ... [LIBS ...] [TIMEOUT s] [WRAPPER cmd...] [ENV k=v...] [LABELS l...])
# Every test gets a timeout (a crashing QtTest can hang in its crash handler) and private,
# freshly emptied runtime, temporary, state and home folders, so tests never share state.
# Label a test that runs code on several threads `threads` (BSL_TEST_LABEL_THREADS):
# `tools/test --sanitize=thread` runs those under ThreadSanitizer.
set(BSL_TEST_LABEL_THREADS threads)
function(add_qt_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;WRAPPER;ENV;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  add_test(NAME ${name}
           COMMAND ${PROJECT_SOURCE_DIR}/cmake/run-test.sh
                   ${CMAKE_CURRENT_BINARY_DIR}/${name}.work
                   ${T_ENV} -- ${T_WRAPPER} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
