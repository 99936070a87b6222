# Torvacin Live: the bootable CD/USB image of the Pentium II build,
#   cmake --preset p6 && cmake --build --preset p6 --target live
# writes torvacin-live.iso into the build folder (live/build-image; its
# kernel and image are kept under the hash of their inputs in live/ there).
# Another build of the program (not static i686) is refused by the script.
add_custom_target(live
  COMMAND ${CMAKE_SOURCE_DIR}/live/build-image $<TARGET_FILE:torvacin>
          ${CMAKE_BINARY_DIR}/torvacin-live.iso ${CMAKE_BINARY_DIR}/live
  DEPENDS torvacin
  USES_TERMINAL
  VERBATIM)
# The same on one 1.44 MB floppy, with its own smaller kernel
# (live/linux-floppy.config): cmake --build --preset p6 --target floppy
# writes torvacin-floppy.img, or fails saying by how many bytes it is over.
add_custom_target(floppy
  COMMAND ${CMAKE_SOURCE_DIR}/live/build-image $<TARGET_FILE:torvacin>
          ${CMAKE_BINARY_DIR}/torvacin-floppy.img ${CMAKE_BINARY_DIR}/live
  DEPENDS torvacin
  USES_TERMINAL
  VERBATIM)
