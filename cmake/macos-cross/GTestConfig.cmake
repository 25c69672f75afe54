# GoogleTest for the macOS cross build, compiled for the target from the sources that Debian's
# googletest package ships.
if(TARGET GTest::gtest)
  return()
endif()
set(_quillfen_gtest /usr/src/googletest/googletest)
if(NOT EXISTS ${_quillfen_gtest}/src/gtest-all.cc)
  set(GTest_FOUND FALSE)
  set(GTest_NOT_FOUND_MESSAGE "Debian's googletest package is not installed.")
  return()
endif()
find_package(Threads REQUIRED)
add_library(quillfen_gtest STATIC ${_quillfen_gtest}/src/gtest-all.cc)
target_include_directories(quillfen_gtest SYSTEM PUBLIC ${_quillfen_gtest}/include
                           PRIVATE ${_quillfen_gtest})
target_link_libraries(quillfen_gtest PUBLIC Threads::Threads)
# Third-party code: the project's warnings are for the project's code.
target_compile_options(quillfen_gtest PRIVATE -w)
add_library(quillfen_gtest_main STATIC ${_quillfen_gtest}/src/gtest_main.cc)
target_link_libraries(quillfen_gtest_main PUBLIC quillfen_gtest)
target_compile_options(quillfen_gtest_main PRIVATE -w)
add_library(GTest::gtest ALIAS quillfen_gtest)
add_library(GTest::gtest_main ALIAS quillfen_gtest_main)
