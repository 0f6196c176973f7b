// The public preference functions: coordinate checks, the staging registry
// of this process, and the C boundary (no exception crosses it).
#include "platform/prefs/preferences.h"

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/cf/cf_ref.hpp"
#include "platform/prefs/preference_location.hpp"
#include "platform/prefs/preference_store.hpp"
#include "platform/prefs/staged_changes.hpp"
#include "plist/varn_basics.h"

namespace {

using tolvan::CFRef;
using tolvan::prefs::StagedChanges;

constexpr const char *kSystemRoot = TOLVAN_SYSTEM_ROOT;

struct StagedDomain {
  std::string app_id;
  StagedChanges changes;
};

// A tool process serves one request, so a short list searched in order is
// all the registry needs to be.
struct Registry {
  std::mutex mutex;
  std::vector<StagedDomain> domains;
  // Set when a change could not be staged. The lost pair's domain may not
  // even have an entry, so from then on no save in this process may claim
  // that what was set is on disk.
  bool lost_change = false;
};

Registry &TheRegistry() {
  // Never destroyed: a save or a release at exit must not find it gone.
  static Registry *registry = new Registry;
  return *registry;
}

StagedDomain *FindDomain(Registry &registry, const std::string &app_id) {
  for (StagedDomain &domain : registry.domains) {
    if (domain.app_id == app_id) return &domain;
  }
  return nullptr;
}

StagedDomain &FindOrAddDomain(Registry &registry, const std::string &app_id) {
  if (StagedDomain *domain = FindDomain(registry, app_id)) return *domain;
  registry.domains.push_back(StagedDomain{app_id, StagedChanges()});
  return registry.domains.back();
}

bool IsString(CFTypeRef object) {
  return object != nullptr && CFGetTypeID(object) == CFStringGetTypeID();
}

bool IsMachineWide(CFStringRef user, CFStringRef host) {
  return IsString(user) && IsString(host) && CFEqual(user, kCFPreferencesAnyUser) &&
         CFEqual(host, kCFPreferencesCurrentHost);
}

// The application id of a machine-wide domain, or an empty string for
// coordinates this store does not keep.
std::string MachineWideApplicationID(CFStringRef app, CFStringRef user, CFStringRef host) {
  if (!IsMachineWide(user, host)) return {};
  // A well-formed id, but it names every application, not a domain.
  if (IsString(app) && CFEqual(app, kCFPreferencesAnyApplication)) return {};
  return tolvan::prefs::ApplicationIDFromString(app);
}

// What this process sees of the domain: the saved pairs with its own staged
// changes over them. Called with the registry locked.
CFDictionaryRef CopyDomain(Registry &registry, const std::string &app_id) {
  CFRef<CFDictionaryRef> saved;
  if (tolvan::prefs::CopySavedDomain(kSystemRoot, app_id, &saved) != 0) return nullptr;
  const StagedDomain *staged = FindDomain(registry, app_id);
  if (staged == nullptr || staged->changes.empty()) return saved.release();
  auto current = CFRef<CFMutableDictionaryRef>::Adopt(
      CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, saved.get()));
  if (!current || !staged->changes.ApplyTo(current.get())) return nullptr;
  return current.release();
}

CFTypeRef RetainOrNull(CFTypeRef value) { return value != nullptr ? CFRetain(value) : nullptr; }

CFDictionaryRef CopySelected(CFDictionaryRef domain, CFArrayRef keys) {
  auto selected = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  if (!selected) return nullptr;
  for (CFIndex i = 0, count = CFArrayGetCount(keys); i < count; ++i) {
    const void *key = CFArrayGetValueAtIndex(keys, i);
    const void *value = nullptr;
    if (!IsString(key) || !CFDictionaryGetValueIfPresent(domain, key, &value)) continue;
    if (!CFDictionarySetValue(selected.get(), key, value)) return nullptr;
  }
  return selected.release();
}

}  // namespace

extern "C" void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value,
                                      CFStringRef applicationID, CFStringRef userName,
                                      CFStringRef hostName) {
  if (!IsString(key)) return;
  Registry &registry = TheRegistry();
  try {
    std::string app_id = MachineWideApplicationID(applicationID, userName, hostName);
    if (app_id.empty()) return;
    std::lock_guard<std::mutex> guard(registry.mutex);
    if (!FindOrAddDomain(registry, app_id).changes.Stage(key, value)) registry.lost_change = true;
  } catch (const std::bad_alloc &) {
    std::lock_guard<std::mutex> guard(registry.mutex);
    registry.lost_change = true;
  }
}

extern "C" Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName,
                                            CFStringRef hostName) {
  Registry &registry = TheRegistry();
  try {
    std::string app_id = MachineWideApplicationID(applicationID, userName, hostName);
    if (app_id.empty()) return false;
    std::lock_guard<std::mutex> guard(registry.mutex);
    if (registry.lost_change) return false;
    StagedDomain *staged = FindDomain(registry, app_id);
    const StagedChanges nothing_staged;
    const StagedChanges &changes = staged != nullptr ? staged->changes : nothing_staged;
    if (tolvan::prefs::SaveDomain(kSystemRoot, app_id, changes) != 0) return false;
    if (staged != nullptr) staged->changes.Clear();
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

extern "C" CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID,
                                                    CFStringRef userName, CFStringRef hostName) {
  if (!IsString(key)) return nullptr;
  Registry &registry = TheRegistry();
  try {
    std::string app_id = MachineWideApplicationID(applicationID, userName, hostName);
    if (app_id.empty()) return nullptr;
    std::lock_guard<std::mutex> guard(registry.mutex);
    // A staged change answers without the disk, even when the store cannot
    // be read.
    CFTypeRef value = nullptr;
    const StagedDomain *staged = FindDomain(registry, app_id);
    if (staged != nullptr && staged->changes.Lookup(key, &value)) return RetainOrNull(value);
    CFRef<CFDictionaryRef> saved;
    if (tolvan::prefs::CopySavedDomain(kSystemRoot, app_id, &saved) != 0) return nullptr;
    return RetainOrNull(CFDictionaryGetValue(saved.get(), key));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

extern "C" CFDictionaryRef CFPreferencesCopyMultiple(CFArrayRef keysToFetch,
                                                     CFStringRef applicationID,
                                                     CFStringRef userName, CFStringRef hostName) {
  Registry &registry = TheRegistry();
  try {
    std::string app_id = MachineWideApplicationID(applicationID, userName, hostName);
    if (app_id.empty()) return nullptr;
    std::lock_guard<std::mutex> guard(registry.mutex);
    auto domain = CFRef<CFDictionaryRef>::Adopt(CopyDomain(registry, app_id));
    if (!domain || keysToFetch == nullptr) return domain.release();
    return CopySelected(domain.get(), keysToFetch);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

extern "C" CFArrayRef CFPreferencesCopyKeyList(CFStringRef applicationID, CFStringRef userName,
                                               CFStringRef hostName) {
  auto domain = CFRef<CFDictionaryRef>::Adopt(
      CFPreferencesCopyMultiple(nullptr, applicationID, userName, hostName));
  if (!domain) return nullptr;
  CFArrayRef keys = nullptr;
  return VarnArrayCreateWithDictionaryKeys(domain.get(), &keys) == noErr ? keys : nullptr;
}
