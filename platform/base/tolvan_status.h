/* Every status code the system uses, in one place, with a function that
 * names each in words. Statuses are signed 32-bit: 0 is success, small
 * positive values are errno values, negative values are platform statuses.
 * Library code never prints; programs use TolvanStatusDescription to say
 * what happened. */
#ifndef TOLVAN_PLATFORM_BASE_TOLVAN_STATUS_H
#define TOLVAN_PLATFORM_BASE_TOLVAN_STATUS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t OSStatus;

enum {
  noErr = 0,
  paramErr = -50,
  dupFNErr = -48,
  fnfErr = -43,
  memFullErr = -108,
  coreFoundationUnknownErr = -4960,

  errAuthorizationSuccess = 0,
  errAuthorizationInvalidSet = -60001,
  errAuthorizationInvalidRef = -60002,
  errAuthorizationInvalidTag = -60003,
  errAuthorizationInvalidPointer = -60004,
  errAuthorizationDenied = -60005,
  errAuthorizationCanceled = -60006,
  errAuthorizationInteractionNotAllowed = -60007,
  errAuthorizationInternal = -60008,
  errAuthorizationExternalizeNotAllowed = -60009,
  errAuthorizationInternalizeNotAllowed = -60010,
  errAuthorizationInvalidFlags = -60011,
  errAuthorizationToolExecuteFailure = -60031,
  errAuthorizationToolEnvironmentError = -60032,

  kHelperToolParamErr = 5361,
  kHelperToolDeniedErr = 5362,
  kHelperToolCancelledErr = 5363,
  kHelperToolInternalErr = 5364,

  kFolderUnsuitableErr = 5370,

  kVarnNoSuchKeyErr = 5400,
  kVarnBadValueErr = 5401
};

/* A short English description of a status: the name of the errno value, of
 * the platform status or of the tool's own result. Never null; the text is
 * static. Unknown values get a generic description. */
const char *TolvanStatusDescription(OSStatus status);

#ifdef __cplusplus
}
#endif

#endif
