# tethrocam_add_test(NAME SOURCES... [LIBS libs...] [LABELS labels...])
# One line adds one GoogleTest executable, registered with CTest under NAME.
# Tests labelled "tsan" are also gathered under the target tsan_tests, which the
# ThreadSanitizer build compiles on its own.
add_custom_target(tsan_tests)

function(tethrocam_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tethrocam_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TETHROCAM_SHARED_DIR=${PROJECT_SOURCE_DIR}/../shared;TETHROCAM_SOURCE_DIR=${PROJECT_SOURCE_DIR};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    if("tsan" IN_LIST T_LABELS)
      add_dependencies(tsan_tests ${name})
    endif()
  endif()
  if(TETHROCAM_TSAN AND NOT "tsan" IN_LIST T_LABELS)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
endfunction()
