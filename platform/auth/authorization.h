/* Authorization: references, their 32-byte external form, and the judgement
 * of rights.
 *
 * A reference belongs to the process that made it. Its external form names
 * that process (process id, start time, user id) plus random bytes, so that
 * another process of the same user can rebuild a reference from it; the form
 * grants nothing by itself. Rights are always judged for the real user id of
 * the process that asks (getuid()), never for the user the form names.
 *
 * Getting a reference, in an application, a test or the helper tool:
 *
 *   AuthorizationRef ref = NULL;
 *   OSStatus status = AuthorizationCreate(NULL, NULL, kAuthorizationFlagDefaults, &ref);
 *   ...
 *   AuthorizationFree(ref, kAuthorizationFlagDefaults);
 *
 * The application sends AuthorizationMakeExternalForm's 32 bytes to the tool,
 * which turns them back into a reference with
 * AuthorizationCreateFromExternalForm and asks for kAuthorizationRightExecute
 * with AuthorizationCopyRights (flags kAuthorizationFlagInteractionAllowed |
 * kAuthorizationFlagExtendRights).
 *
 * The judgement of "system.privilege.admin": granted at once when the real
 * user is root. Otherwise the process must have root at hand (a saved
 * set-user-ID of 0, as in a set-user-ID program that lowered its effective
 * user id), the real user must be a member of the policy's admin group, and
 * either a timestamp of an authentication in the same session and terminal
 * less than 5 minutes old exists, or (with kAuthorizationFlagInteractionAllowed)
 * the user types their password, at most three times, to the policy's
 * authentication agent or at the controlling terminal; PAM service "tolvan"
 * checks it. docs/authorization.md has the details.
 *
 * Nothing here prints, logs or throws. Every function is safe to call with
 * any pointer the caller owns; a null required pointer is
 * errAuthorizationInvalidPointer. */
#ifndef TOLVAN_PLATFORM_AUTH_AUTHORIZATION_H
#define TOLVAN_PLATFORM_AUTH_AUTHORIZATION_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "platform/base/tolvan_status.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct AuthorizationOpaqueRef *AuthorizationRef;

typedef uint32_t AuthorizationFlags;
enum {
  kAuthorizationFlagDefaults = 0,
  /* The user may be asked (agent or terminal). Without it no one is asked:
   * only root or a valid timestamp grants. */
  kAuthorizationFlagInteractionAllowed = 1,
  /* Authenticate now if needed (the right is judged, not only looked up). */
  kAuthorizationFlagExtendRights = 2,
  /* Succeed with the subset of rights that were granted. */
  kAuthorizationFlagPartialRights = 4,
  /* AuthorizationFree: also void this user's timestamp for the current
   * session and terminal, so that the next request asks again. */
  kAuthorizationFlagDestroyRights = 8,
  /* Treated as kAuthorizationFlagExtendRights. */
  kAuthorizationFlagPreAuthorize = 16
};

#define kAuthorizationExternalFormLength 32
typedef struct {
  char bytes[kAuthorizationExternalFormLength];
} AuthorizationExternalForm;

typedef const char *AuthorizationString;

typedef struct {
  AuthorizationString name;
  size_t valueLength;
  void *value;
  uint32_t flags;
} AuthorizationItem;

typedef struct {
  uint32_t count;
  AuthorizationItem *items;
} AuthorizationItemSet;

typedef AuthorizationItemSet AuthorizationRights;
typedef AuthorizationItemSet AuthorizationEnvironment;

/* The administrator right: the only right the judgement knows. Every other
 * name is denied. */
#define kAuthorizationRightExecute "system.privilege.admin"

/* Makes a reference for the calling process in *authorization (null on
 * failure). rights may be null; when it names rights and flags include
 * kAuthorizationFlagExtendRights, they are judged as by
 * AuthorizationCopyRights and a refusal frees the reference and is returned.
 * environment is ignored.
 * Results: 0; -60004 null out-pointer; -60011 unknown flags; -108 out of
 * memory; -60008 the process's identity cannot be read from /proc; or the
 * status of the judgement. */
OSStatus AuthorizationCreate(const AuthorizationRights *rights,
                             const AuthorizationEnvironment *environment,
                             AuthorizationFlags flags, AuthorizationRef *authorization);

/* Frees a reference (any reference: made here or from an external form).
 * With kAuthorizationFlagDestroyRights, also voids the real user's timestamp
 * for the current session and terminal (when the process has root at hand).
 * Results: 0; -60002 null or not a reference; -60011 unknown flags. */
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

/* Judges each right of rights for the real user of the calling process.
 * authorization must be a valid reference; environment is ignored.
 * authorizedRights may be null; otherwise it receives a set (free it with
 * AuthorizationFreeItemSet) of the rights granted, or null on failure.
 * Results: 0 every right granted (or, with kAuthorizationFlagPartialRights,
 * at least the ones listed in *authorizedRights); -60002 bad reference;
 * -60001 null rights or an item without a name; -60011 unknown flags;
 * -60005 denied (also: not an administrator, no way to ask, no interaction
 * allowed, no root at hand, three wrong passwords, locked or expired
 * account); -60006 cancelled (end of input or a signal at the prompt, the
 * agent exited non-zero or ran out of time); -60008 the policy or PAM set-up
 * is broken or unsafe; -108 out of memory. */
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights *rights,
                                 const AuthorizationEnvironment *environment,
                                 AuthorizationFlags flags, AuthorizationRights **authorizedRights);

/* Frees a set returned through AuthorizationCopyRights. Results: 0; -60001
 * null set. */
OSStatus AuthorizationFreeItemSet(AuthorizationItemSet *set);

/* Writes the reference's 32-byte external form. A reference made from an
 * external form yields the same 32 bytes again.
 * Results: 0; -60002 bad reference; -60004 null form. */
OSStatus AuthorizationMakeExternalForm(AuthorizationRef authorization,
                                       AuthorizationExternalForm *extForm);

/* Rebuilds a reference from an external form, in *authorization (null on
 * failure). The form must be well formed, name the caller's real user id, and
 * name a live process whose real user id and start time match.
 * Results: 0; -60002 the form fails validation; -60004 null pointer; -108 out
 * of memory. */
OSStatus AuthorizationCreateFromExternalForm(const AuthorizationExternalForm *extForm,
                                             AuthorizationRef *authorization);

/* Runs pathToTool as root through the platform's set-user-ID trampoline
 * (<system root>/usr/libexec/tolvan/tolvan-authexec), which judges
 * kAuthorizationRightExecute for the real user itself, with interaction, and
 * only then executes the program (opened without following links; it must
 * be a regular file) with argv[0] the path and then arguments (a
 * null-terminated list; null means none). The program runs with the
 * caller's real user id and effective user id 0, its standard input and
 * output being *communicationsPipe, a stream open for reading and writing;
 * the caller closes it with fclose and reaps the program with waitpid (its
 * process id is the first child the call started). options must be
 * kAuthorizationFlagDefaults.
 * Results: 0; -60002 bad reference; -60004 null path or stream pointer;
 * -60011 unknown options; -60005 denied; -60006 cancelled; -60031 the path
 * is not absolute, or names no regular file the trampoline can execute;
 * -60008 the trampoline is missing or not set-user-ID root; an errno value
 * when the launch itself fails. On failure no program runs and
 * *communicationsPipe is null. */
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char *pathToTool,
                                            AuthorizationFlags options, char *const *arguments,
                                            FILE **communicationsPipe);

/* The reference a privileged launch handed to this program, in
 * *authorization: a reference only when this very process was started by
 * AuthorizationExecuteWithPrivileges (the trampoline left a root-only
 * record naming this process, its start time and its executable; the record
 * is used up). Otherwise -60002 with *authorization null; -60004 for a null
 * out-pointer. */
OSStatus AuthorizationCopyPrivilegedReference(AuthorizationRef *authorization,
                                              AuthorizationFlags flags);

#ifdef __cplusplus
}
#endif

#endif
