/* Running one request in the helper tool, from the application's side: the
 * tool is started on one end of a socket pair, sent the authorization's
 * external form and the request, and its reply and exit status are read
 * back. docs/application-side.md has the choices made. */
#ifndef TOLVAN_SEC_EXECUTE_REQUEST_H
#define TOLVAN_SEC_EXECUTE_REQUEST_H

#include "platform/auth/authorization.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/url/url.h"

#ifdef __cplusplus
extern "C" {
#endif

/* *response must be null on entry. On success (0) it holds the reply, owned
 * by the caller together with every descriptor listed under
 * kDescriptorArrayKey. On failure it is null and nothing received stays
 * open. Results: 0; -4960 the URL has no path; the status of
 * AuthorizationMakeExternalForm; an errno value; a status of the channel's
 * writing and reading calls; 5361 to 5364 for the tool's exit status 1 to 4
 * (5364 also for a signal or any other exit status, and for a tool that
 * ended without replying while reporting success). */
OSStatus TolvanSecExecuteRequestInHelperTool(CFURLRef toolURL, AuthorizationRef authorization,
                                             CFDictionaryRef request, CFDictionaryRef *response);

#ifdef __cplusplus
}
#endif

#endif
