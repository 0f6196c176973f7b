#include "platform/prefs/preference_store.hpp"

#include <cerrno>
#include <string>

#include "platform/cf/cf_property_list.h"
#include "platform/prefs/preference_file_reader.hpp"
#include "platform/prefs/preference_file_writer.hpp"
#include "platform/prefs/preference_location.hpp"
#include "platform/prefs/preference_lock.hpp"
#include "platform/prefs/trusted_path.hpp"
#include "unix/unique_fd.hpp"

namespace tolvan::prefs {
namespace {

CFMutableDictionaryRef CreateEmptyDictionary() {
  return CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                   &kCFTypeDictionaryValueCallBacks);
}

int LocateDomain(std::string_view root, std::string_view app_id, std::string *name) {
  if (!IsValidApplicationID(app_id)) return EINVAL;
  std::string host_id;
  int error = ReadHostID(root, &host_id);
  if (error != 0) return error;
  *name = DomainFileName(app_id, host_id);
  return 0;
}

// The saved content to merge the changes into. A corrupt file is kept under
// another name, never emptied or deleted, and the save starts afresh.
int LoadForUpdate(int folder, const std::string &name, CFRef<CFMutableDictionaryRef> *merged) {
  CFRef<CFDictionaryRef> saved;
  int error = 0;
  switch (ReadPreferenceFile(folder, name.c_str(), &saved, &error)) {
    case FileState::kFailed:
      return error;
    case FileState::kCorrupt:
      error = MoveFileAside(folder, name);
      if (error != 0) return error;
      merged->reset(CreateEmptyDictionary());
      break;
    case FileState::kAbsent:
      merged->reset(CreateEmptyDictionary());
      break;
    case FileState::kValid:
      merged->reset(CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, saved.get()));
      break;
  }
  return *merged ? 0 : ENOMEM;
}

int WriteMerged(int folder, const std::string &name, CFDictionaryRef merged) {
  auto bytes = CFRef<CFDataRef>::Adopt(CFPropertyListCreateXMLData(kCFAllocatorDefault, merged));
  if (!bytes) return ENOMEM;
  if (static_cast<size_t>(CFDataGetLength(bytes.get())) > kMaxPreferenceFileSize) return EFBIG;
  return ReplaceFileDurably(folder, name, bytes.get());
}

}  // namespace

int SaveDomain(std::string_view root, std::string_view app_id, const StagedChanges &changes) {
  std::string name;
  int error = LocateDomain(root, app_id, &name);
  if (error != 0) return error;
  UniqueFd folder;
  error = OpenTrustedFolder(ByHostFolderPath(root), MissingFolders::kCreate, &folder);
  if (error != 0) return error;
  UniqueFd lock;
  error = LockDomainFile(folder.get(), name, &lock);
  if (error != 0) return error;
  RemoveStaleTemporaryFiles(folder.get(), name);
  CFRef<CFMutableDictionaryRef> merged;
  error = LoadForUpdate(folder.get(), name, &merged);
  if (error != 0) return error;
  if (!changes.ApplyTo(merged.get())) return ENOMEM;
  return WriteMerged(folder.get(), name, merged.get());
}

int CopySavedDomain(std::string_view root, std::string_view app_id,
                    CFRef<CFDictionaryRef> *saved) {
  std::string name;
  int error = LocateDomain(root, app_id, &name);
  if (error != 0) return error;
  UniqueFd folder;
  error = OpenTrustedFolder(ByHostFolderPath(root), MissingFolders::kFail, &folder);
  if (error != 0 && error != ENOENT) return error;
  FileState state = FileState::kAbsent;
  if (folder) state = ReadPreferenceFile(folder.get(), name.c_str(), saved, &error);
  if (state == FileState::kFailed) return error;
  if (state != FileState::kValid) saved->reset(CreateEmptyDictionary());
  return *saved ? 0 : ENOMEM;
}

}  // namespace tolvan::prefs
