# vurma_add_test(NAME SOURCES src... LIBS lib... [LABELS label...])
# One small GoogleTest executable per call, registered with CTest; tests/common
# holds the helpers the suites share.
# Labels: "tsan" marks tests that the ThreadSanitizer build runs (it builds
# without Qt); "nosan" keeps a test out of the AddressSanitizer run; "gui"
# marks tests that drive real widgets offscreen; "media" real GStreamer.
function(vurma_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VURMA_TEST_TMP=${CMAKE_CURRENT_BINARY_DIR}/tmp")
endfunction()
