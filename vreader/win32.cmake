# The virtual reader under Wine: the kernel-mode driver kxvreader.sys and
# the command-line tool vreader.exe. Included by cmake/win32.cmake.

# The driver is the model's own source compiled for kernel mode: no C or
# C++ runtime, only ntoskrnl and hal. A custom command keeps the link line
# free of the user-mode libraries CMake adds to every target.
set(VREADER_DDK_INCLUDE /usr/i686-w64-mingw32/include/ddk)
set(VREADER_DRIVER_SOURCES
  ${CMAKE_SOURCE_DIR}/vreader/driver/driver.cpp
  ${CMAKE_SOURCE_DIR}/vreader/model/reader.cpp
  ${CMAKE_SOURCE_DIR}/vreader/model/image_stream.cpp)
file(GLOB VREADER_DRIVER_HEADERS CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/vreader/driver/*.h
  ${CMAKE_SOURCE_DIR}/vreader/model/*.h
  ${CMAKE_SOURCE_DIR}/devlib/control/driver_interface.h)
set(VREADER_DRIVER_FLAGS
  -std=c++17 -O2 -Wall -Wextra
  -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-stack-protector -mno-stack-arg-probe
  -D_KERNEL_MODE=1 -DUNICODE -D_UNICODE
  # wdm.h brings its own two bit-test intrinsics; C++ refuses intrin.h's as well.
  -D__INTRINSIC_DEFINED_InterlockedBitTestAndSet
  -D__INTRINSIC_DEFINED_InterlockedBitTestAndReset
  -isystem ${VREADER_DDK_INCLUDE})
set(VREADER_DRIVER_LINK
  -shared -nostdlib -nostartfiles
  -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8 -Wl,--exclude-all-symbols
  -Wl,--image-base,0x10000 -Wl,--file-alignment,0x200
  -Wl,--section-alignment,0x1000 -Wl,--dynamicbase -Wl,--nxcompat)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/kxvreader.sys
  COMMAND ${CMAKE_CXX_COMPILER} ${VREADER_DRIVER_FLAGS} ${VREADER_DRIVER_SOURCES}
          ${VREADER_DRIVER_LINK} -o ${CMAKE_BINARY_DIR}/kxvreader.sys
          -lntoskrnl -lhal -lgcc
  DEPENDS ${VREADER_DRIVER_SOURCES} ${VREADER_DRIVER_HEADERS}
  COMMENT "Building the virtual reader driver kxvreader.sys"
  VERBATIM)
add_custom_target(kxvreader ALL DEPENDS ${CMAKE_BINARY_DIR}/kxvreader.sys)

# Its INF, beside it, for binding the driver to a device node.
configure_file(${CMAKE_SOURCE_DIR}/vreader/driver/kxvreader.inf
               ${CMAKE_BINARY_DIR}/kxvreader.inf COPYONLY)

# vreader.exe: the model's user-mode sources (the description format, the
# request names) and the tool.
file(GLOB VREADER_TOOL_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/vreader/tool/*.cpp)
add_executable(vreader ${VREADER_TOOL_SOURCES} ${VREADER_MODEL_SOURCES})
target_include_directories(vreader PRIVATE vreader devlib)
target_link_options(vreader PRIVATE -static -static-libgcc -static-libstdc++)

# Test programs that talk to the control device, with the model for its
# records, and the one that makes device nodes.
foreach(program driver_button driver_bad_input)
  if(TARGET ${program})
    target_include_directories(${program} PRIVATE vreader devlib)
    target_sources(${program} PRIVATE
      ${CMAKE_SOURCE_DIR}/vreader/model/reader.cpp
      ${CMAKE_SOURCE_DIR}/vreader/model/image_stream.cpp)
  endif()
endforeach()
if(TARGET driver_pnp_node)
  target_link_libraries(driver_pnp_node PRIVATE setupapi newdev)
endif()
