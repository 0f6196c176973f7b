/* Preferences: key/value pairs kept per application, user and host.
 *
 * A domain is named by three coordinates: an application id (a
 * reverse-DNS string such as "org.example.app"), a user and a host. This
 * store keeps the machine-wide domain: kCFPreferencesAnyUser together with
 * kCFPreferencesCurrentHost. Every other combination (the current user, any
 * host, a named user or host, kCFPreferencesAnyApplication as the
 * application id) is not kept here: setting stages nothing, synchronizing
 * answers false and copying answers null.
 *
 * CFPreferencesSetValue stages a pair in the memory of this process;
 * CFPreferencesSynchronize saves every staged pair of the domain durably
 * (under an exclusive lock, merged with what other processes saved, written
 * to a new file, flushed and renamed over the old one) and answers true only
 * when they are on disk. Staged pairs survive a failed save, so a retry
 * saves them; a successful save clears them. The copy functions read the
 * saved file and see this process's staged pairs over it.
 *
 * An application id is at most 128 bytes of ASCII letters, digits, '.',
 * '-' and '_', not starting with '.'. Keys must be strings; values must be
 * property lists (strings, numbers, booleans, data, dates, arrays and
 * dictionaries). See docs/preferences.md for where the file lives and how a
 * save survives crashes, full disks and hostile paths. */
#ifndef TOLVAN_PLATFORM_PREFS_PREFERENCES_H
#define TOLVAN_PLATFORM_PREFS_PREFERENCES_H

#include "platform/cf/cf_array.h"
#include "platform/cf/cf_base.h"
#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_string.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The coordinate constants. They compare by content (CFEqual), so a
 * string with the same characters names the same coordinate. */
#define kCFPreferencesAnyApplication CFSTR("kCFPreferencesAnyApplication")
#define kCFPreferencesAnyHost CFSTR("kCFPreferencesAnyHost")
#define kCFPreferencesCurrentHost CFSTR("kCFPreferencesCurrentHost")
#define kCFPreferencesAnyUser CFSTR("kCFPreferencesAnyUser")
#define kCFPreferencesCurrentUser CFSTR("kCFPreferencesCurrentUser")

/* Stages key = value for the next CFPreferencesSynchronize of the domain; a
 * null value stages the removal of the key. The value is retained, not
 * copied: a mutable value is saved as it is when the domain is
 * synchronized. A key that is not a string, an invalid application id or
 * unsupported coordinates stage nothing. When memory runs out the pair is
 * lost, and every later CFPreferencesSynchronize in this process answers
 * false (it saves nothing rather than a partial set). */
void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID,
                           CFStringRef userName, CFStringRef hostName);

/* Saves the staged pairs of the domain: true when the file holding them,
 * merged with the pairs already saved, is on disk (written, flushed and
 * renamed into place, the folder flushed). With nothing staged it still
 * rewrites the file (creating it when missing), so true always means the
 * store is present and sound. False on any failure: unsupported
 * coordinates, an invalid application id, a missing or malformed machine
 * id, a folder or file that is a symbolic link, not owned by root (or the
 * effective user) or writable by others, no space, an I/O error, a value
 * that is not a property list, a result larger than the store's size
 * limit, no memory. After a failure the old file is intact. */
Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName,
                                 CFStringRef hostName);

/* The value of key in the domain (a staged value of this process first,
 * then the saved file), owned by the caller; null when there is none or
 * the store cannot be read. A file that does not parse reads as empty. */
CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID,
                                         CFStringRef userName, CFStringRef hostName);

/* The keys of the domain, as an array of strings owned by the caller (in
 * the dictionaries' enumeration order); an empty array when the domain has
 * no pairs; null when the store cannot be read or memory runs out. */
CFArrayRef CFPreferencesCopyKeyList(CFStringRef applicationID, CFStringRef userName,
                                    CFStringRef hostName);

/* The values of the listed keys (the keys that have none are left out), or
 * of every key when keysToFetch is null, as a dictionary owned by the
 * caller; empty when there are none; null when the store cannot be read or
 * memory runs out. */
CFDictionaryRef CFPreferencesCopyMultiple(CFArrayRef keysToFetch, CFStringRef applicationID,
                                          CFStringRef userName, CFStringRef hostName);

#ifdef __cplusplus
}
#endif

#endif
