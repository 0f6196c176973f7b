#include "app/request_failure.hpp"

#include "app/helper_tool_place.hpp"
#include "app/output.hpp"

namespace tolvan::app {
namespace {

std::string DescribeLocationFailure(OSStatus status) {
  const std::string folder = ExistingFolderPath(kUserDomain, kHelperToolFolderType);
  switch (status) {
    case kFolderUnsuitableErr:
      return "the folder " + folder +
             " cannot hold a set-user-ID program (writable by others, mounted nosuid, "
             "or on a file system without owners such as vfat?), so the helper tool cannot be installed there";
    case coreFoundationUnknownErr:
      return "the helper tool " TOLVAN_APP_HELPER_TOOL_NAME " is missing beside this program";
    default:
      return "cannot find or install the helper tool" +
             (folder.empty() ? std::string() : " in " + folder) + ": " + StatusInWords(status);
  }
}

// The tool's answers, whether they came in its reply or as its exit status.
std::string DescribeToolFailure(RequestStep step, OSStatus status) {
  switch (status) {
    case errAuthorizationDenied:
    case kHelperToolDeniedErr:
      return "not authorized: changing the machine-wide preferences needs an administrator "
             "to authenticate; nothing was changed";
    case errAuthorizationInteractionNotAllowed:
      return "not authorized: no terminal or agent to ask for an administrator's password; "
             "nothing was changed";
    case errAuthorizationCanceled:
    case kHelperToolCancelledErr:
      return "cancelled: the authentication was cancelled; nothing was changed";
    case kHelperToolParamErr:
      return "the helper tool refused the request as malformed";
    case kHelperToolInternalErr:
      return "the helper tool failed before it answered; the preferences may not have been saved";
    default:
      return (step == RequestStep::kCommand ? "the helper tool could not save the preferences: "
                                            : "cannot run the helper tool: ") +
             StatusInWords(status);
  }
}

}  // namespace

std::string DescribeRequestFailure(const RequestOutcome &outcome) {
  switch (outcome.failed_step) {
    case RequestStep::kNone: return "";
    case RequestStep::kAuthorization:
      return "cannot create an authorization: " + StatusInWords(outcome.status);
    case RequestStep::kTemplate:
      return "cannot find the folder of this program, where the helper tool is shipped";
    case RequestStep::kLocation: return DescribeLocationFailure(outcome.status);
    case RequestStep::kExchange:
    case RequestStep::kCommand: return DescribeToolFailure(outcome.failed_step, outcome.status);
  }
  return StatusInWords(outcome.status);
}

void ReportRequestFailure(const RequestOutcome &outcome) {
  Complain(DescribeRequestFailure(outcome));
}

}  // namespace tolvan::app
