# ondalux_add_test(NAME SOURCES src... LIBS lib... [QT] [SHARDS n]
#                  [ENV VAR=value...])
#
# Registers one GoogleTest executable with CTest. QT marks a test that needs a
# QApplication: it runs on Qt's offscreen platform. Every test plays sound
# into SDL's dummy driver, so none needs a display or a sound card.
#
# Most of these tests spend their time waiting for sound played at its own
# pace, not on the processor. SHARDS n splits the executable's tests into n
# CTest entries (GoogleTest's own sharding), each a process of its own, so
# that `ctest -j` runs them side by side; NAME_1 ... NAME_n. In ENV, @SHARD@
# becomes the shard's number, for what each process must have to itself.
find_package(GTest REQUIRED)

function(ondalux_add_test name)
  cmake_parse_arguments(arg "QT" "SHARDS" "SOURCES;LIBS;ENV" ${ARGN})
  if(arg_QT)
    # A test with windows starts in a main of its own that makes the QApplication.
    add_executable(${name} ${arg_SOURCES} ${PROJECT_SOURCE_DIR}/tests/qt_test_main.cpp)
    target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest Qt6::Widgets)
  else()
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  ondalux_warnings(${name})
  set(env SDL_AUDIODRIVER=dummy ${arg_ENV})
  if(arg_QT)
    list(APPEND env QT_QPA_PLATFORM=offscreen)
  endif()
  if(NOT arg_SHARDS OR arg_SHARDS LESS 2)
    string(REPLACE "@SHARD@" "1" env "${env}")
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
    return()
  endif()
  foreach(shard RANGE 1 ${arg_SHARDS})
    math(EXPR index "${shard} - 1")
    string(REPLACE "@SHARD@" "${shard}" shard_env "${env}")
    list(APPEND shard_env GTEST_TOTAL_SHARDS=${arg_SHARDS} GTEST_SHARD_INDEX=${index})
    add_test(NAME ${name}_${shard} COMMAND ${name})
    set_tests_properties(${name}_${shard} PROPERTIES ENVIRONMENT "${shard_env}" TIMEOUT 300)
  endforeach()
endfunction()
