#include "unix/sigpipe.h"

#include <signal.h>

#include <cerrno>

extern "C" int TolvanUNIXIgnoreSIGPIPE(void) {
  struct sigaction action;
  if (::sigaction(SIGPIPE, nullptr, &action) != 0) return errno;
  action.sa_handler = SIG_IGN;
  if (::sigaction(SIGPIPE, &action, nullptr) != 0) return errno;
  return 0;
}
