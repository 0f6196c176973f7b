// Sending one request to the helper tool: locate (or install) the tool
// copy, run the request in it, and take the command's status from the
// reply.
#ifndef TOLVAN_APP_REQUEST_SENDER_HPP
#define TOLVAN_APP_REQUEST_SENDER_HPP

#include "app/exit_codes.hpp"
#include "platform/cf/cf_dictionary.h"

namespace tolvan::app {

// The step that failed, so that the message can say what went wrong.
enum class RequestStep { kNone, kAuthorization, kTemplate, kLocation, kExchange, kCommand };

struct RequestOutcome {
  RequestStep failed_step = RequestStep::kNone;
  OSStatus status = noErr;
};

RequestOutcome SendRequest(CFDictionaryRef request);

// SendRequest, then nothing on success, or what failed in words on standard
// error; the exit code either way.
ExitCode SendRequestAndReport(CFDictionaryRef request);

}  // namespace tolvan::app

#endif
