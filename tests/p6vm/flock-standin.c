/* Stands in for flock(1) on the emulated Pentium II: Debian's busybox has no
   flock applet. "flock FILE COMMAND [ARG...]" opens FILE, waits for an
   exclusive lock on it (flock(2), as flock(1) takes it), runs COMMAND with
   the lock held by the open descriptor it inherits, and ends with
   COMMAND's status once it has ended. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: flock FILE COMMAND [ARG...]\n", stderr);
    return 64;
  }
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0 || flock(fd, LOCK_EX) != 0) {
    perror(argv[1]);
    return 1;
  }
  const pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return 1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
