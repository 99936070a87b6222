# Run at install time: a statically linked program (an ELF program without an
# interpreter segment, such as the Pentium II build) gets the lintian override
# that names that choice. Expects TORV_PROGRAM, TORV_OVERRIDES (the override
# file) and TORV_OVERRIDES_DIR (relative to the prefix).

# The little-endian field of `size` bytes at `byte` in the hex dump `hex`.
function(torv_elf_field hex byte size out)
  set(value "")
  math(EXPR last "${byte} + ${size} - 1")
  foreach(i RANGE ${byte} ${last})
    math(EXPR pos "${i} * 2")
    string(SUBSTRING "${hex}" ${pos} 2 b)
    set(value "${b}${value}")
  endforeach()
  math(EXPR value "0x${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

file(READ "${TORV_PROGRAM}" torv_header LIMIT 64 HEX)
string(SUBSTRING "${torv_header}" 0 10 torv_ident)
if(torv_ident STREQUAL "7f454c4601")
  torv_elf_field("${torv_header}" 28 4 torv_phoff)
  torv_elf_field("${torv_header}" 42 2 torv_phentsize)
  torv_elf_field("${torv_header}" 44 2 torv_phnum)
elseif(torv_ident STREQUAL "7f454c4602")
  torv_elf_field("${torv_header}" 32 8 torv_phoff)
  torv_elf_field("${torv_header}" 54 2 torv_phentsize)
  torv_elf_field("${torv_header}" 56 2 torv_phnum)
else()
  return()
endif()

set(torv_static TRUE)
if(torv_phnum GREATER 0)
  math(EXPR torv_last "${torv_phnum} - 1")
  foreach(i RANGE 0 ${torv_last})
    math(EXPR offset "${torv_phoff} + ${i} * ${torv_phentsize}")
    file(READ "${TORV_PROGRAM}" torv_type OFFSET ${offset} LIMIT 4 HEX)
    if(torv_type STREQUAL "03000000")  # PT_INTERP
      set(torv_static FALSE)
    endif()
  endforeach()
endif()

if(torv_static)
  file(INSTALL "${TORV_OVERRIDES}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${TORV_OVERRIDES_DIR}"
       RENAME torvacin)
endif()
