# The Windows deliverables and the programs that test them under Wine.

# SSE2 arithmetic keeps the correction's doubles free of x87 excess precision.
add_compile_options(-msse2 -mfpmath=sse)

add_library(KX7300V20 SHARED
  ${KX_LIBRARY_SOURCES}
  devlib/seam/win32_system.cpp
  devlib/KX7300V20.def)
target_include_directories(KX7300V20 PUBLIC devlib/include)
set_target_properties(KX7300V20 PROPERTIES PREFIX "" OUTPUT_NAME KX7300V20)
# Exactly the undecorated names of the .def; no runtime DLLs beside ours.
target_link_options(KX7300V20 PRIVATE
  -Wl,--kill-at -static -static-libgcc -static-libstdc++)

# Import libraries from the export list, so that callers' decorated
# stdcall references bind to the plain names: libKX7300V20.dll.a for
# MinGW, KX7300V20.lib for other toolchains.
add_custom_command(TARGET KX7300V20 POST_BUILD
  COMMAND ${CMAKE_DLLTOOL} -k -d ${CMAKE_SOURCE_DIR}/devlib/KX7300V20.def
          -D KX7300V20.dll -l ${CMAKE_BINARY_DIR}/libKX7300V20.dll.a
  COMMAND ${CMAKE_DLLTOOL} -k -d ${CMAKE_SOURCE_DIR}/devlib/KX7300V20.def
          -D KX7300V20.dll -l ${CMAKE_BINARY_DIR}/KX7300V20.lib
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/devlib/include/KX7300V20.h
          ${CMAKE_BINARY_DIR}/KX7300V20.h
  VERBATIM)

# Programs that run under Wine: one per file, static runtime.
file(GLOB KX_WINE_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.cpp)
foreach(source ${KX_WINE_PROGRAMS})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_include_directories(${name} PRIVATE devlib/include)
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(${name} PRIVATE KX7300V20 gdi32 user32)
endforeach()

if(EXISTS ${CMAKE_SOURCE_DIR}/vreader/win32.cmake)
  include(vreader/win32.cmake)
endif()

# A C client linked through each import library: the MinGW one and the
# .lib made for other toolchains.
add_executable(c_client tests/wine/c_client.c)
target_link_libraries(c_client PRIVATE KX7300V20)
add_executable(c_client_lib tests/wine/c_client.c)
target_include_directories(c_client_lib PRIVATE devlib/include)
add_dependencies(c_client_lib KX7300V20)
target_link_libraries(c_client_lib PRIVATE ${CMAKE_BINARY_DIR}/KX7300V20.lib)

add_executable(kit_demo demo/kit_demo.cpp)
target_include_directories(kit_demo PRIVATE vreader)
target_link_libraries(kit_demo PRIVATE KX7300V20)
target_link_options(kit_demo PRIVATE -static -static-libgcc -static-libstdc++)
