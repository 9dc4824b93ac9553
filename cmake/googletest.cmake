# GoogleTest from Debian's googletest package sources, built per preset.
set(CAMVUE_GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${CAMVUE_GTEST_SRC}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources missing at ${CAMVUE_GTEST_SRC}: run scripts/bootstrap.sh")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${CAMVUE_GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# main() for every test binary (starts WinSock where there is one) and the
# fixture file helpers.
add_library(camvue_test_main STATIC ${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/fixture_files.cpp)
target_link_libraries(camvue_test_main PUBLIC gmock camvue_platform PRIVATE camvue_warnings)
target_include_directories(camvue_test_main PUBLIC ${PROJECT_SOURCE_DIR})
