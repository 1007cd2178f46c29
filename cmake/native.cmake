# The portable core over the host backend: tests, sanitizers, fuzzing,
# benchmarks.

set(KX_SANITIZE "" CACHE STRING "Sanitizers for the native build (e.g. address,undefined or thread)")
if(KX_SANITIZE)
  add_compile_options(-fsanitize=${KX_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${KX_SANITIZE})
endif()

add_library(kxcore STATIC
  ${KX_LIBRARY_SOURCES}
  ${VREADER_MODEL_SOURCES}
  devlib/seam/host_system.cpp)
target_include_directories(kxcore PUBLIC devlib/include devlib vreader)
find_package(Threads REQUIRED)
target_link_libraries(kxcore PUBLIC Threads::Threads)

find_package(GTest REQUIRED)
find_package(OpenSSL REQUIRED)
file(GLOB KX_NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
add_executable(native_tests ${KX_NATIVE_TESTS})
target_link_libraries(native_tests PRIVATE kxcore GTest::gtest GTest::gtest_main OpenSSL::Crypto)

option(KX_BENCHMARKS "Build the benchmark programs" ON)
if(KX_BENCHMARKS AND NOT KX_SANITIZE)
  find_package(benchmark REQUIRED)
  file(GLOB KX_BENCHES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*_bench.cpp)
  foreach(source ${KX_BENCHES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE kxcore benchmark::benchmark OpenSSL::Crypto)
  endforeach()
endif()

# libFuzzer targets need clang; the fuzz script configures a build of its own.
option(KX_FUZZ "Build the libFuzzer targets (clang)" OFF)
if(KX_FUZZ)
  file(GLOB KX_FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
  foreach(source ${KX_FUZZERS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE kxcore)
  endforeach()
endif()
