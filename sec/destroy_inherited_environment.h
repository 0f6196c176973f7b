/* Process preparation for a set-user-ID tool: everything a process inherits
 * from whoever started it is under that caller's control, so the tool puts
 * each kind of inherited state into a known state before it does any work. */
#ifndef TOLVAN_SEC_DESTROY_INHERITED_ENVIRONMENT_H
#define TOLVAN_SEC_DESTROY_INHERITED_ENVIRONMENT_H

#include <stdint.h>

#include "platform/base/tolvan_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A set bit keeps that kind of inherited state and skips its step; a clear
 * bit resets it. Bits above kPreserveTimers are ignored. The steps run in
 * the order of the bits, lowest first. */
enum {
  kPreserveArgv0 = 0x001,
  kPreserveEnvironment = 0x002,
  kPreserveStandardDescriptors = 0x004,
  kPreserveOtherDescriptors = 0x008,
  kPreserveSignals = 0x010,
  kPreserveUmask = 0x020,
  kPreserveNice = 0x040,
  kPreserveResourceLimits = 0x080,
  kPreserveWorkingDirectory = 0x100,
  kPreserveTimers = 0x200
};

/* Resets the inherited state the flags do not preserve, in this order:
 *  - argv[0] becomes the running executable's absolute path, in a heap
 *    string that lives as long as the process (the old string is not freed);
 *  - the environment is emptied, entries without '=' included;
 *  - descriptors 0, 1 and 2 are closed;
 *  - every descriptor from 3 up is closed;
 *  - every signal disposition goes back to SIG_DFL (the standard signals and
 *    the real-time ones), and the signal mask is emptied;
 *  - the file-creation mask becomes 077;
 *  - nice(0) is called (the priority itself is left as inherited);
 *  - the resource limits of the tool's table are applied, and the process
 *    is made non-dumpable, so no core file is ever written. The hard limits
 *    are the table's where the kernel lets this process set them (effective
 *    user root with CAP_SYS_RESOURCE, and never above fs.nr_open for the
 *    open-file limit); elsewhere the inherited hard limit stays and the
 *    soft limit is the table's, lowered to that hard limit when above it;
 *  - the working directory becomes "/";
 *  - the real, virtual and profiling interval timers are disarmed.
 *
 * argv is the argument vector main received; only argv[0] is written, and
 * only when kPreserveArgv0 is clear (argv may be null otherwise).
 *
 * 0 when every step ran; otherwise the status of the first step that failed,
 * the later ones not run and the earlier ones left done: -50 for a null argv
 * or an empty argument vector (argv[0] null) when argv[0] is to be replaced,
 * -1 when the executable's path size cannot be learned, ENOMEM, the status of
 * TolvanGetExecutablePath, or the errno of a failing close, signal,
 * sigprocmask, nice, getrlimit, setrlimit, prctl, chdir or setitimer. A
 * descriptor that is not open (EBADF) is not a failure, nor is a signal
 * whose disposition cannot be changed (0, SIGKILL, SIGSTOP, and the
 * real-time signals the C library keeps for itself). */
OSStatus TolvanSecDestroyInheritedEnvironment(uint32_t flags, char **argv);

#ifdef __cplusplus
}
#endif

#endif
