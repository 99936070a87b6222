# The Windows program: torvacin.exe and its NT kernel driver KELVORNT.SYS,
# installed side by side (the program installs the driver from its own folder).
install(TARGETS torvacin RUNTIME DESTINATION .)
# The linker's map beside the 32-bit program and driver, for
# tests/i486/instruction-check.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(torvacin PRIVATE "LINKER:-Map=${CMAKE_CURRENT_BINARY_DIR}/torvacin.exe.map")
endif()

# KELVORNT.SYS, the kernel driver (Windows NT 4.0 to XP): plain C against the
# mingw-w64 DDK headers, linked as a native image against ntoskrnl and the HAL
# only. KELVORNT-0102.SYS is the same driver answering version 0102h, for
# the loader's older-driver path; it is not installed.
enable_language(C)
find_path(TORV_DDK_DIR ntddk.h PATHS /usr/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32/include/ddk
          /usr/share/mingw-w64/include/ddk NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH REQUIRED)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(torv_driver_entry _DriverEntry@8)
else()
  set(torv_driver_entry DriverEntry)
endif()
function(torv_driver target file version)
  add_library(${target} SHARED ${CMAKE_SOURCE_DIR}/src/driver/kelvornt/kelvornt.c
                               ${CMAKE_SOURCE_DIR}/src/driver/kelvornt/dispatch.c)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${file} SUFFIX ".SYS"
                        C_STANDARD 99 C_EXTENSIONS ON)
  target_include_directories(${target} SYSTEM PRIVATE ${TORV_DDK_DIR})
  # 0x0600 only picks the DDK header variant that compiles; every kernel
  # function the driver imports exists in NT 4.0 (the import table shows it).
  target_compile_definitions(${target} PRIVATE KV_VERSION=${version} _WIN32_WINNT=0x0600)
  target_compile_options(${target} PRIVATE -ffreestanding -fno-stack-protector
                         -fno-asynchronous-unwind-tables)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    target_compile_options(${target} PRIVATE -mno-red-zone)
  else()
    # i486 code: NT loads the driver on whatever processor the program is
    # started on, and a P6 instruction (CMOV) on a 486, Pentium or 6x86
    # would stop the system. CPUID, RDMSR, WRMSR and RDTSC are inline
    # assembly, each run only where the processor has it.
    target_compile_options(${target} PRIVATE -march=i486 -mtune=pentium2)
  endif()
  target_link_options(${target} PRIVATE -nostdlib -Wl,--subsystem,native
                      -Wl,--entry,${torv_driver_entry} -Wl,--image-base,0x10000
                      -Wl,--exclude-all-symbols)
  target_link_libraries(${target} PRIVATE ntoskrnl hal gcc)
endfunction()
torv_driver(kelvornt KELVORNT 0x0103)
torv_driver(kelvornt_0102 KELVORNT-0102 0x0102)
install(TARGETS kelvornt RUNTIME DESTINATION .)

# The Wine cases of the driver (tests/windows/kelvornt-cases) talk to it
# through this client.
if(TORV_TESTS)
  add_executable(kelvornt_client ${CMAKE_SOURCE_DIR}/tests/windows/kelvornt_client.c)
  set_target_properties(kelvornt_client PROPERTIES C_STANDARD 99 C_EXTENSIONS ON)
  target_link_libraries(kelvornt_client PRIVATE advapi32)
endif()

# The window's test driver: presses the buttons of a running torvacin.exe and
# reads its list box (tests/windows/window-cases runs it under Wine).
if(TORV_TESTS)
  add_executable(window_probe tests/windows/window_probe.cpp)
  target_link_libraries(window_probe PRIVATE user32)
endif()
