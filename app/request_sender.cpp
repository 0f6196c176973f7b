#include "app/request_sender.hpp"

#include "app/helper_tool_place.hpp"
#include "app/request_failure.hpp"
#include "platform/auth/held_authorization.hpp"
#include "sec/execute_request.h"
#include "sec/helper_tool_location.h"
#include "sec/listed_descriptors.hpp"
#include "sec/response_error.h"
#include "unix/sigpipe.h"

namespace tolvan::app {
namespace {

// The reply owns the descriptors it lists; ours carry none, but a reply is
// never dropped with descriptors open.
OSStatus CommandStatusOf(const CFRef<CFDictionaryRef> &reply) {
  const OSStatus status = TolvanSecGetErrorFromResponse(reply.get());
  CloseListedDescriptors(reply.get());
  return status;
}

RequestOutcome Failed(RequestStep step, OSStatus status) { return {step, status}; }

}  // namespace

RequestOutcome SendRequest(CFDictionaryRef request) {
  auth::HeldAuthorization authorization;
  OSStatus status =
      AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, authorization.out());
  if (status != noErr) return Failed(RequestStep::kAuthorization, status);

  CFBundleRef bundle = CFBundleGetMainBundle();
  if (bundle == nullptr) return Failed(RequestStep::kTemplate, coreFoundationUnknownErr);
  CFRef<CFURLRef> tool;
  status = TolvanSecCopyHelperToolURLAndCheckBundled(bundle, HelperToolName(),
                                                     kHelperToolFolderType,
                                                     HelperToolSubfolderName(), HelperToolName(),
                                                     tool.out());
  if (status != noErr) return Failed(RequestStep::kLocation, status);

  // A tool that ends early must give its exit status, not end this program.
  status = TolvanUNIXIgnoreSIGPIPE();
  CFRef<CFDictionaryRef> reply;
  if (status == noErr) {
    status = TolvanSecExecuteRequestInHelperTool(tool.get(), authorization.get(), request,
                                                 reply.out());
  }
  if (status != noErr) return Failed(RequestStep::kExchange, status);
  status = CommandStatusOf(reply);
  if (status != noErr) return Failed(RequestStep::kCommand, status);
  return {};
}

ExitCode SendRequestAndReport(CFDictionaryRef request) {
  const RequestOutcome outcome = SendRequest(request);
  if (outcome.failed_step == RequestStep::kNone) return kExitSuccess;
  ReportRequestFailure(outcome);
  return ExitCodeForStatus(outcome.status);
}

}  // namespace tolvan::app
