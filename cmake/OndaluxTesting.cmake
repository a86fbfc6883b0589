# ondalux_add_test(NAME SOURCES src... LIBS lib... [QT] [ENV VAR=value...])
#
# Registers one GoogleTest executable with CTest. QT marks a test that needs a
# QApplication: it runs on Qt's offscreen platform. Every test plays sound
# into SDL's dummy driver, so none needs a display or a sound card.
find_package(GTest REQUIRED)

function(ondalux_add_test name)
  cmake_parse_arguments(arg "QT" "" "SOURCES;LIBS;ENV" ${ARGN})
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
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()
