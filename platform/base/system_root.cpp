#include "platform/base/system_root.hpp"

namespace tolvan {

std::string SystemPath(const char *relativePath) {
  std::string path = TOLVAN_SYSTEM_ROOT;
  while (!path.empty() && path.back() == '/') path.pop_back();
  path += '/';
  path += relativePath;
  return path;
}

}  // namespace tolvan
