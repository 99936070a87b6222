# Installation (cmake --install, honouring CMAKE_INSTALL_PREFIX and DESTDIR)
# and the Debian package (cpack -G DEB): the program, its privileged helper
# torvacin-access with its polkit policy (their rules are in the top-level
# CMakeLists.txt), the manual pages, the desktop entry with its icon, the
# AppStream metadata, the bash completion and the package's documentation
# files.
include(GNUInstallDirs)

set(TORV_DATA_DIR ${CMAKE_SOURCE_DIR}/data)
set(TORV_GEN_DIR ${CMAKE_BINARY_DIR}/data)
set(TORV_PACKAGE_MAINTAINER "Torvacin maintainers <maintainers@torvacin.org>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")
# The AppStream component id; the desktop entry and the icon keep the
# program's own name.
set(TORV_APP_ID org.torvacin.torvacin)

install(TARGETS torvacin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Generated files go into the build folder: the manual page and the changelog
# compressed without a time stamp, the icon as PNG at the usual sizes.
set(torv_generated)
configure_file(${TORV_DATA_DIR}/changelog.in ${TORV_GEN_DIR}/changelog @ONLY)

# torv_compressed(var source name): `var` is the file to install, `name`.gz
# made with gzip -9n in the build folder, or `source` itself without gzip.
find_program(TORV_GZIP gzip)
function(torv_compressed var source name)
  if(NOT TORV_GZIP)
    set(${var} ${source} PARENT_SCOPE)
    return()
  endif()
  set(tmp ${TORV_GEN_DIR}/gz/${name})
  add_custom_command(
    OUTPUT ${TORV_GEN_DIR}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TORV_GEN_DIR}/gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${tmp}
    COMMAND ${TORV_GZIP} -9nf ${tmp}
    COMMAND ${CMAKE_COMMAND} -E rename ${tmp}.gz ${TORV_GEN_DIR}/${name}.gz
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  set(${var} ${TORV_GEN_DIR}/${name}.gz PARENT_SCOPE)
  set(torv_generated ${torv_generated} ${TORV_GEN_DIR}/${name}.gz PARENT_SCOPE)
endfunction()
torv_compressed(torv_man ${TORV_DATA_DIR}/torvacin.1 torvacin.1)
torv_compressed(torv_access_man ${TORV_DATA_DIR}/torvacin-access.8 torvacin-access.8)
torv_compressed(torv_changelog ${TORV_GEN_DIR}/changelog changelog)

set(TORV_ICON_SIZES 16 24 32 48 64 128 256)
find_program(TORV_RSVG_CONVERT rsvg-convert)
if(TORV_RSVG_CONVERT)
  foreach(size ${TORV_ICON_SIZES})
    set(png ${TORV_GEN_DIR}/icons/${size}x${size}/torvacin.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TORV_GEN_DIR}/icons/${size}x${size}
      COMMAND ${TORV_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${TORV_DATA_DIR}/torvacin.svg
      DEPENDS ${TORV_DATA_DIR}/torvacin.svg
      COMMENT "Icon ${size}x${size}"
      VERBATIM)
    list(APPEND torv_generated ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(STATUS "rsvg-convert not found: the icon is installed as SVG only")
endif()
add_custom_target(torv_install_data ALL DEPENDS ${torv_generated})

install(FILES ${torv_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${torv_access_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${TORV_DATA_DIR}/torvacin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TORV_DATA_DIR}/torvacin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TORV_DATA_DIR}/torvacin.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME ${TORV_APP_ID}.metainfo.xml)
install(FILES ${TORV_DATA_DIR}/torvacin.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME torvacin)
install(CODE "
  set(TORV_PROGRAM \"$<TARGET_FILE:torvacin>\")
  set(TORV_OVERRIDES \"${TORV_DATA_DIR}/torvacin.lintian-overrides\")
  set(TORV_OVERRIDES_DIR \"${CMAKE_INSTALL_DATADIR}/lintian/overrides\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/static-override.cmake\")")
install(FILES ${TORV_DATA_DIR}/copyright ${torv_changelog} ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvacin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TORV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "identify x86 processors and check a Pentium II for overclocking")
set(CPACK_PACKAGE_DESCRIPTION
    "Torvacin identifies the installed x86 processor (CPUID, or the Cyrix
configuration registers) and measures its clock. For the Pentium Pro and
Pentium II family, Celeron and Xeon included, it reads the model-specific
registers (clock ratio, bus setting, second-level cache control and
configuration, memory type ranges), tests whether the second-level cache
really stores ECC bits, and judges whether the processor is what it claims
to be: run at its rated clock, overclocked, or a re-marked fake.

The report is shown in a window or printed on the terminal, in English,
German or Dutch, and can be saved. Simulated machines, built in or described
in a profile file, run the same analysis on any computer.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://torvacin.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# torvacin-access is started through pkexec when the program runs as an
# ordinary user; as root the program needs neither.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pkexec)
# torvacin-access's own system user is made after installation (data/postinst,
# with adduser); cmake --install makes no user.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${TORV_DATA_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The architecture is that of the program built: amd64, or i386 for a 32-bit
# build such as the Pentium II one; cpack reads it from the program's ELF
# header (cmake/cpack-arch.cmake). Without that program cpack falls back to
# this configuration's pointer size, then to the machine's architecture.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()
set(CPACK_TORV_PROGRAM ${CMAKE_BINARY_DIR}/torvacin)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack-arch.cmake)
include(CPack)
