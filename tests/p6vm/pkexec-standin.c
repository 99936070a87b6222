/* Stands in for pkexec on the emulated Pentium II, which has no polkit. The
   guest installs it as /usr/bin/pkexec, owned by root with the set-user-ID
   bit, so torvacin starts it exactly as it starts pkexec: it becomes root and
   executes the one helper it was built for, with the consent the caller asks
   for as its only argument and an empty environment, keeping standard input
   and output. It looks at nothing else the caller hands it. Like pkexec it ends with 127 when it
   cannot run the helper. */
#include <unistd.h>

#ifndef TORV_HELPER
#error "build with -DTORV_HELPER=\"/path/of/torvacin-access\""
#endif

#include <string.h>

int main(int argc, char** argv_in) {
  /* The helper's one argument, the consent asked for: "analysis" or "ecc",
     as the two actions of its polkit policy name them. */
  if (argc != 3 || strcmp(argv_in[1], TORV_HELPER) != 0 ||
      (strcmp(argv_in[2], "analysis") != 0 && strcmp(argv_in[2], "ecc") != 0)) {
    return 127;
  }
  char* const argv[] = {(char*)TORV_HELPER, argv_in[2], (char*)0};
  char* const envp[] = {(char*)0};
  if (setgid(0) != 0 || setuid(0) != 0) return 127;
  execve(TORV_HELPER, argv, envp);
  return 127;
}
