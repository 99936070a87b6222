/* SIGKILL in the held section on the emulated Pentium II, where no signal
   can be held or announced: "kill-standin JOURNAL COMMAND [ARG...]" runs
   COMMAND and kills it with SIGKILL the moment the file JOURNAL (the
   program's journal of the cache controller) is written, watched with
   inotify on its folder. Ends with 137 when the kill left the journal
   written (the program was killed between its journal and the restore), 1
   when the program had emptied it again first (the kill came too late: try
   again), 2 when COMMAND ended by itself. */
#include <fcntl.h>
#include <libgen.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static long size_of(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? (long)st.st_size : -1;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fputs("usage: kill-standin JOURNAL COMMAND [ARG...]\n", stderr);
    return 64;
  }
  char dir[4096];
  strncpy(dir, argv[1], sizeof dir - 1);
  dir[sizeof dir - 1] = '\0';
  const char* name = strrchr(argv[1], '/') != NULL ? strrchr(argv[1], '/') + 1 : argv[1];
  const int in = inotify_init1(IN_CLOEXEC);
  if (in < 0 || inotify_add_watch(in, dirname(dir), IN_MODIFY) < 0) {
    perror("inotify");
    return 64;
  }
  const pid_t pid = fork();
  if (pid < 0) return 64;
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int killed = 0;
  while (!killed) {
    struct pollfd p = {in, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      char buf[4096] __attribute__((aligned(__alignof__(struct inotify_event))));
      const ssize_t n = read(in, buf, sizeof buf);
      for (ssize_t at = 0; at < n;) {
        const struct inotify_event* e = (const struct inotify_event*)(buf + at);
        if (e->len > 0 && strcmp(e->name, name) == 0 && size_of(argv[1]) > 0) {
          kill(pid, SIGKILL);
          killed = 1;
          break;
        }
        at += (ssize_t)(sizeof *e + e->len);
      }
    }
    if (!killed && waitpid(pid, NULL, WNOHANG) == pid) return 2;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return 64;
  if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) return 2;
  return size_of(argv[1]) > 0 ? 137 : 1;
}
