# The Windows program: torvacin.exe and its NT kernel driver KELVORNT.SYS,
# installed side by side (the program installs the driver from its own folder).
install(TARGETS torvacin RUNTIME DESTINATION .)

# The window's test driver: presses the buttons of a running torvacin.exe and
# reads its list box (tests/windows/window-cases runs it under Wine).
if(TORV_TESTS)
  add_executable(window_probe tests/windows/window_probe.cpp)
  target_link_libraries(window_probe PRIVATE user32)
endif()
