// What tolvan-prefs writes: messages on standard error, each prefixed with
// the program's name, and values on standard output.
#ifndef TOLVAN_APP_OUTPUT_HPP
#define TOLVAN_APP_OUTPUT_HPP

#include <cstdio>
#include <string>

#include "platform/base/tolvan_status.h"
#include "platform/cf/cf_base.h"

namespace tolvan::app {

void Complain(const std::string &message);
// "<status in words> (<number>)".
std::string StatusInWords(OSStatus status);
// "<what>: <status in words> (<number>)".
void ComplainStatus(const std::string &what, OSStatus status);

// The readable form (strings as themselves, containers one member a line),
// followed by a newline. False when it could not be made or written.
bool PrintDescription(CFTypeRef value, std::FILE *out);
// The XML property-list document of value. False when it could not be
// made or written.
bool PrintXML(CFPropertyListRef value, std::FILE *out);

}  // namespace tolvan::app

#endif
