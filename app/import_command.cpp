#include "app/import_command.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/import_document.hpp"
#include "app/output.hpp"
#include "app/request_sender.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::app {
namespace {

UniqueFd OpenInput(const std::string &operand, std::string *error) {
  // A copy of standard input, so that closing the holder leaves 0 alone.
  if (operand == "-") return UniqueFd(fcntl(0, F_DUPFD_CLOEXEC, 3));
  UniqueFd fd(open(operand.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat status;
  if (fd.get() < 0) {
    *error = std::string("cannot open it: ") + std::strerror(errno);
  } else if (fstat(fd.get(), &status) == 0 && S_ISDIR(status.st_mode)) {
    *error = "it is a folder";
    fd.reset();
  }
  return fd;
}

}  // namespace

ExitCode RunImport(const Invocation &invocation) {
  const std::string &operand = invocation.operands.at(0);
  const std::string name = operand == "-" ? "standard input" : operand;
  std::string error;
  std::string document;
  UniqueFd input = OpenInput(operand, &error);
  if (input.get() < 0) {
    Complain(name + ": " + (error.empty() ? std::strerror(errno) : error));
    return kExitUsage;
  }
  if (!ReadImportDocument(input.get(), &document, &error)) {
    Complain(name + ": " + error);
    return kExitUsage;
  }
  CFRef<CFDictionaryRef> request = ParseImportDocument(document, &error);
  if (!request) {
    Complain(name + ": " + error);
    return kExitUsage;
  }
  // Nothing to store: no one needs to be asked for a password.
  if (CFDictionaryGetCount(request.get()) == 0) return kExitSuccess;
  return SendRequestAndReport(request.get());
}

}  // namespace tolvan::app
