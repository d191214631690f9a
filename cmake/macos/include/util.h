// What the macOS SDK's <util.h> declares of the pseudo-terminal functions
// (libSystem has them), for the macOS build with Zig, whose copy of the
// SDK's headers leaves this header out. The end-to-end tests use them.
#ifndef ORBELM_MACOS_UTIL_H
#define ORBELM_MACOS_UTIL_H

#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

struct termios;
struct winsize;

int openpty(int* controller, int* terminal, char* name,
            struct termios* settings, struct winsize* size);
pid_t forkpty(int* controller, char* name, struct termios* settings,
              struct winsize* size);

#ifdef __cplusplus
}
#endif

#endif
