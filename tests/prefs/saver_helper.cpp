// A one-save program for the fault-injection test: it saves one generation
// (see generation_content.hpp) into the domain under the given system root
// and exits 0 when the save succeeded, 3 when it failed (any other status
// means the program itself did not get through: the loader or a sanitizer
// runtime met an injected failure). Run under strace, each of its system
// calls can be made to fail in turn.
//
//   prefs_saver_helper ROOT GENERATION PAYLOAD_SIZE
#include <cstdlib>

#include "platform/prefs/preference_store.hpp"
#include "tests/prefs/generation_content.hpp"

constexpr int kSaveFailed = 3;

int main(int argc, char **argv) {
  if (argc != 4) return 2;
  tolvan::prefs::StagedChanges changes;
  if (!tolvan::prefs::test::StageGeneration(std::atoll(argv[2]),
                                            static_cast<size_t>(std::atoll(argv[3])), &changes)) {
    return kSaveFailed;
  }
  return tolvan::prefs::SaveDomain(argv[1], tolvan::prefs::test::kTestAppID, changes) == 0
             ? 0
             : kSaveFailed;
}
