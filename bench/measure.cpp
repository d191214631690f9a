// Runs one program and reports what it cost: wall-clock seconds, user and
// system CPU seconds, peak resident memory in KiB and the bytes the program
// caused to be written to storage, as one line
// "WALL USER SYSTEM MAX_RSS_KIB WRITE_BYTES" in RESULT_FILE.
//
// Usage: orbelm_measure RESULT_FILE PROGRAM [ARGUMENT...]
//
// Standard input, output and error pass through to PROGRAM. This helper
// exists because the kernel's peak resident memory of a process includes
// the memory of the process it was forked from until the exec: measured
// from a Python or shell parent, every program would seem to need that
// parent's memory. Forked from this small program instead, the peak is
// PROGRAM's own (or this helper's, about 1 MiB, whichever is larger).
//
// WRITE_BYTES is write_bytes from /proc/PID/io: the page-cache bytes that
// the program dirtied (a whole page for every file whose data it changed,
// also when it changed a few bytes), whenever the disk receives them. It is
// read after the program has ended but before it is reaped (waitid with
// WNOWAIT), the only moment its counters are final and still readable; -1
// when the kernel keeps no such counters.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double seconds(timeval t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The "write_bytes:" counter of an ended, not yet reaped process, or -1.
long long written_bytes(pid_t process) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/io", static_cast<long>(process));
  std::FILE* io = std::fopen(path, "r");
  if (io == nullptr) return -1;
  long long bytes = -1;
  char line[128];
  while (std::fgets(line, sizeof line, io) != nullptr)
    if (std::sscanf(line, "write_bytes: %lld", &bytes) == 1) break;
  std::fclose(io);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: orbelm_measure RESULT_FILE PROGRAM [ARGUMENT...]\n",
               stderr);
    return 2;
  }
  const double start = now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("orbelm_measure: fork");
    return 2;
  }
  if (child == 0) {
    execv(argv[2], argv + 2);
    std::perror("orbelm_measure: exec");
    _exit(127);
  }
  siginfo_t ended{};
  if (waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOWAIT) != 0) {
    std::perror("orbelm_measure: waitid");
    return 2;
  }
  const double wall = now() - start;
  const long long bytes = written_bytes(child);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("orbelm_measure: wait4");
    return 2;
  }
  std::FILE* result = std::fopen(argv[1], "w");
  if (result == nullptr) {
    std::perror("orbelm_measure: result file");
    return 2;
  }
  std::fprintf(result, "%.6f %.6f %.6f %ld %lld\n", wall,
               seconds(usage.ru_utime), seconds(usage.ru_stime),
               usage.ru_maxrss, bytes);
  std::fclose(result);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
