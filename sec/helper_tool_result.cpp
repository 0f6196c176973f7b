#include "sec/helper_tool_result.h"

namespace {

constexpr int kHelperToolErrorBase = 5360;

}  // namespace

extern "C" int TolvanSecErrorToHelperToolResult(OSStatus status) {
  if (status == errAuthorizationDenied) return kToolStatusDenied;
  if (status == noErr) return kToolStatusSuccess;
  if (status == errAuthorizationCanceled) return kToolStatusCancelled;
  if (status >= kHelperToolParamErr && status <= kHelperToolInternalErr) {
    return status - kHelperToolErrorBase;
  }
  return kToolStatusInternal;
}

extern "C" OSStatus TolvanSecHelperToolResultToError(int tool_result) {
  if (tool_result == kToolStatusSuccess) return noErr;
  if (tool_result >= kToolStatusParam && tool_result <= kToolStatusInternal) {
    return kHelperToolErrorBase + tool_result;
  }
  return kHelperToolInternalErr;
}
