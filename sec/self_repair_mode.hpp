// The privileged copy's half of self-repair: the branch the driver takes
// for "--self-repair". It tells the relay its process id, gives the running
// tool file back to root with the set-user-ID bit, and only then serves the
// request like a normal tool.
#ifndef TOLVAN_SEC_SELF_REPAIR_MODE_HPP
#define TOLVAN_SEC_SELF_REPAIR_MODE_HPP

#include "platform/auth/authorization.h"
#include "platform/base/tolvan_status.h"
#include "sec/helper_tool_main.h"

namespace tolvan {

// Owner root (group unchanged) and S_IFREG | S_ISUID | 0555.
inline constexpr unsigned kRepairedMode = 0x896D;

// Makes executablePath owned by root with kRepairedMode, but only when it
// names the very file this process runs from (device and inode of
// /proc/self/exe), is a regular file and not a symbolic link: a path
// swapped after the start must never gain root ownership or the
// set-user-ID bit. Opened with the effective user id the caller has; the
// effective user id is 0 only around fchown and fchmod.
// 0; EPERM for another file or a non-regular one; ELOOP for a link; or the
// errno of open, fstat, seteuid, fchown or fchmod.
[[nodiscard]] OSStatus RepairRunningExecutable(const char *executablePath) noexcept;

// The whole mode, after the driver's common start. authorization is
// borrowed and may be null.
[[nodiscard]] OSStatus RunSelfRepairMode(int input, int output, bool startedAsRoot,
                                         AuthorizationRef authorization, CommandProcedure command,
                                         const char *executablePath) noexcept;

}  // namespace tolvan

#endif
