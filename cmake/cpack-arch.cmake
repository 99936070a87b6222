# Read by cpack before it makes a package: the Debian architecture follows the
# program actually built, from the class and machine fields of its ELF header
# (a 32-bit x86 program gives i386, a 64-bit one amd64).
if(CPACK_GENERATOR STREQUAL "DEB" AND EXISTS "${CPACK_TORV_PROGRAM}")
  file(READ "${CPACK_TORV_PROGRAM}" torv_elf LIMIT 20 HEX)
  string(SUBSTRING "${torv_elf}" 0 8 torv_magic)
  string(SUBSTRING "${torv_elf}" 8 2 torv_class)
  string(SUBSTRING "${torv_elf}" 36 4 torv_machine)
  if(torv_magic STREQUAL "7f454c46")
    if(torv_class STREQUAL "01" AND torv_machine STREQUAL "0300")
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
    elseif(torv_class STREQUAL "02" AND torv_machine STREQUAL "3e00")
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
    endif()
  endif()
endif()
