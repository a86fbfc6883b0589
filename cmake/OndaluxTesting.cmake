# ondalux_add_test(NAME SOURCES src... LIBS lib... [QT] [ENV VAR=value...])
#
# Registers one GoogleTest executable with CTest. QT marks a test that needs a
# QApplication: it runs on Qt's offscreen platform. Every test plays sound
# into SDL's dummy driver, so none needs a display or a sound card.
find_package(GTest REQUIRED)

function(ondalux_add_test name)
  cmake_parse_arguments(arg "QT" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  ondalux_warnings(${name})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest GTest::gtest_main)
  set(env SDL_AUDIODRIVER=dummy ${arg_ENV})
  if(arg_QT)
    list(APPEND env QT_QPA_PLATFORM=offscreen)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()
