// Counting the descriptors open in this process, for tests and fuzz targets
// that check nothing was leaked.
#ifndef TOLVAN_TESTS_SUPPORT_OPEN_DESCRIPTORS_HPP
#define TOLVAN_TESTS_SUPPORT_OPEN_DESCRIPTORS_HPP

#include <dirent.h>

namespace tolvan::test {

// The number of descriptors open in this process, read from /proc/self/fd
// (less the one the listing itself uses); -1 when it cannot be read.
inline int CountOpenDescriptors() {
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent *entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;
}

}  // namespace tolvan::test

#endif
