// What a failed request means to the person who typed the command, in
// words on standard error.
#ifndef TOLVAN_APP_REQUEST_FAILURE_HPP
#define TOLVAN_APP_REQUEST_FAILURE_HPP

#include <string>

#include "app/request_sender.hpp"

namespace tolvan::app {

// The message, without the program's name in front.
std::string DescribeRequestFailure(const RequestOutcome &outcome);

void ReportRequestFailure(const RequestOutcome &outcome);

}  // namespace tolvan::app

#endif
