#!/usr/bin/env bash
# The main job on a fresh Debian machine, as root: install the build's
# packages, build, install tolvan-prefs and the trampoline into a system
# root inside the build folder, then, as a throwaway administrator with a
# home folder inside the build folder:
#   tolvan-prefs status   no tool copy anywhere yet
#   tolvan-prefs write    installs the helper tool into the user's folder,
#                         which repairs itself through the trampoline after
#                         one authentication, and saves
#   tolvan-prefs write    runs the repaired copy (root, 04555)
#   tolvan-prefs read     prints the machine-wide values
# The administrator's password comes from an authentication agent named by
# the system root's policy, so nothing waits for a keyboard. The user, its
# group and its home folder are removed at the end; nothing outside the
# build folder is left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-main}

if [ "$(id -u)" != 0 ]; then
  echo "main-job.sh: run as root (it installs a set-user-ID trampoline and adds a user)" >&2
  exit 1
fi
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  $(grep -v '^#' .ci/packages) >/dev/null

root="$PWD/$build/sysroot"
cmake -S . -B "$build" -G Ninja -DTOLVAN_SYSTEM_ROOT="$root" >/dev/null
cmake --build "$build" --target tolvan-helper tolvan-prefs tolvan-authexec

# The program ships its helper tool beside itself; the trampoline sits at
# its fixed place, root's and set-user-ID.
app="$root/usr/lib/tolvan-prefs"
install -d -m 0755 "$app" "$root/usr/libexec/tolvan" "$root/etc/pam.d" "$root/etc/tolvan"
install -m 0755 "$build/tolvan-prefs" "$build/tolvan-helper" "$app/"
install -m 04755 "$build/tolvan-authexec" "$root/usr/libexec/tolvan/"
[ -e "$root/etc/machine-id" ] || install -m 0444 /etc/machine-id "$root/etc/machine-id"
printf 'auth required pam_unix.so\naccount required pam_unix.so\n' >"$root/etc/pam.d/tolvan"

user="tvmain$$"
group="tvmainadm$$"
password="main job $$ $RANDOM"
home=""
cleanup() {
  userdel -f "$user" 2>/dev/null || true
  groupdel "$group" 2>/dev/null || true
  [ -z "$home" ] || rm -rf -- "$home"
  rm -f -- "$root/etc/tolvan/authorization" "$root/usr/libexec/tolvan-main-job/agent"
  if [ -n "${uid:-}" ]; then rm -f -- "$root/run/tolvan/timestamps/$uid"; fi
}
trap cleanup EXIT
groupadd "$group"
useradd -M -N -s /bin/sh -G "$group" "$user"
echo "$user:$password" | chpasswd
uid=$(id -u "$user")
home=$(mktemp -d "$PWD/$build/main-job-home.XXXXXX")
chown "$user:" "$home"

# The agent answers the one password prompt of the repair.
install -d -m 0755 "$root/usr/libexec/tolvan-main-job"
printf '#!/bin/sh\necho %q\n' "$password" >"$root/usr/libexec/tolvan-main-job/agent"
chmod 0755 "$root/usr/libexec/tolvan-main-job/agent"
printf 'admin-group = %s\nagent = %s\n' "$group" "$root/usr/libexec/tolvan-main-job/agent" \
  >"$root/etc/tolvan/authorization"

as_user() {
  setsid setpriv --reuid="$uid" --regid="$(id -g "$user")" --init-groups \
    env -i HOME="$home" PATH=/usr/bin:/bin "$app/tolvan-prefs" "$@" </dev/null
}
as_user status
as_user write main-job.greeting "Hello from the main job"
as_user write --int main-job.writes 2
as_user status
"$app/tolvan-prefs" read
