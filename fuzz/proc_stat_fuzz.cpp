// The /proc parsers on arbitrary bytes: the stat line, the status file's Uid
// line and the boot id. A stat line that parses must keep its identifying
// fields when the command name is replaced by another.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/auth/process_identity.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  tolvan::auth::ProcStat stat;
  if (tolvan::auth::ParseProcStat(text, size, &stat)) {
    std::string line(text, size);
    size_t open = line.find(" (");
    size_t close = line.rfind(')');
    std::string renamed = line.substr(0, open) + " (x) y)" + line.substr(close + 1);
    tolvan::auth::ProcStat again;
    if (!tolvan::auth::ParseProcStat(renamed.data(), renamed.size(), &again) ||
        again.pid != stat.pid || again.session != stat.session ||
        again.terminal != stat.terminal || again.startTime != stat.startTime) {
      std::abort();
    }
  }
  uid_t uid;
  (void)tolvan::auth::ParseProcStatusRealUid(text, size, &uid);
  tolvan::auth::BootId bootId;
  (void)tolvan::auth::ParseBootId(text, size, &bootId);
  return 0;
}
