# The Windows program: torvacin.exe and its NT kernel driver KELVORNT.SYS,
# installed side by side (the program installs the driver from its own folder).
install(TARGETS torvacin RUNTIME DESTINATION .)
