#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# Runs the window inside a private network namespace against 40 emulated PE
# devices and 12 emulated ONVIF devices, so both tabs can be tried without a
# LAN and without touching one:
#
#   bash scripts/netns-demo.sh <build-dir>
#
# It makes a namespace pair with scripts/netns.sh, starts both emulators in
# the device side, runs <build-dir>/ui/netvane in the tool side on the invoking
# user's display, and removes everything when the window closes (or on
# Ctrl-C). Needs root; run through sudo it re-uses the caller's display and
# runs the window as the caller.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ $# -ne 1 ]; then
  echo "usage: netns-demo.sh <build-dir>" >&2
  exit 2
fi
if [ ! -d "$1" ]; then
  echo "netns-demo.sh: no build directory '$1'" >&2
  exit 1
fi
build=$(cd "$1" && pwd)
ui="$build/ui/netvane"
emulator="$build/tools/pe-emulator/pe-emulator"
onvif_emulator="$build/tools/onvif-emulator/onvif-emulator"

if [ ! -x "$ui" ]; then
  echo "netns-demo.sh: $ui is missing: the window is not built yet." >&2
  exit 1
fi
if [ ! -x "$emulator" ]; then
  echo "netns-demo.sh: $emulator is missing: build the pe-emulator target first." >&2
  exit 1
fi
if [ ! -x "$onvif_emulator" ]; then
  echo "netns-demo.sh: $onvif_emulator is missing: build the onvif-emulator target first." >&2
  exit 1
fi

if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "netns-demo.sh: network namespaces need root, and sudo is not installed" >&2
    exit 1
  fi
  exec sudo --preserve-env=DISPLAY,XAUTHORITY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR,DBUS_SESSION_BUS_ADDRESS,LANG \
    bash "$here/netns-demo.sh" "$build"
fi

source "$here/netns.sh"
nv_netns_check

tag="demo$$"
work=$(mktemp -d /tmp/nv-demo-XXXXXX)
emulator_pid=""
onvif_pid=""
window_pid=""

# shellcheck disable=SC2317  # runs from the traps
cleanup() {
  trap - EXIT INT TERM HUP
  if [ -n "$window_pid" ]; then
    kill -TERM "$window_pid" 2>/dev/null || true
    wait "$window_pid" 2>/dev/null || true
  fi
  local pid
  for pid in "$emulator_pid" "$onvif_pid"; do
    if [ -n "$pid" ]; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  nv_netns_down "$tag" || echo "netns-demo.sh: could not remove nv-$tag-tool / nv-$tag-dev; try 'scripts/netns.sh down $tag'" >&2
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

nv_netns_up "$tag"

# Waits up to 5 s for an emulator (pid $1) to write its ready file $2; exits
# with a message naming it ($3) when it ends or does not get ready.
wait_ready() {
  for _ in $(seq 50); do
    [ -e "$2" ] && return 0
    if ! kill -0 "$1" 2>/dev/null; then
      echo "netns-demo.sh: the $3 did not start" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "netns-demo.sh: the $3 was not ready within 5 s" >&2
  exit 1
}

ip netns exec "nv-$tag-dev" "$emulator" --i-am-in-a-netns --count 40 --lifetime-s 86400 \
  --log "$work/emulator.log" --ready-file "$work/ready" &
emulator_pid=$!
wait_ready "$emulator_pid" "$work/ready" "PE emulator"

# The ONVIF devices answer from addresses of their own (10.77.2.1 up), which
# the emulator puts on the device side's link itself.
ip netns exec "nv-$tag-dev" "$onvif_emulator" --i-am-in-a-netns --count 12 --lifetime-s 86400 \
  --log "$work/onvif-emulator.log" --ready-file "$work/onvif-ready" &
onvif_pid=$!
wait_ready "$onvif_pid" "$work/onvif-ready" "ONVIF emulator"
echo "netns-demo.sh: 40 PE and 12 ONVIF emulated devices in nv-$tag-dev; starting the window in nv-$tag-tool"

# The window runs as the user who called sudo, with that user's display.
user=${SUDO_USER:-root}
home=$(getent passwd "$user" | cut -d: -f6)
pass=("HOME=$home" "USER=$user" "LOGNAME=$user" "PATH=/usr/local/bin:/usr/bin:/bin")
for var in DISPLAY XAUTHORITY WAYLAND_DISPLAY XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS LANG; do
  if [ -n "${!var:-}" ]; then
    pass+=("$var=${!var}")
  fi
done
if [ -z "${XAUTHORITY:-}" ] && [ -n "${DISPLAY:-}" ] && [ -f "$home/.Xauthority" ]; then
  pass+=("XAUTHORITY=$home/.Xauthority")
fi

# In the background, so that a signal to this script runs its clean-up at
# once (which then closes the window) instead of after the window is closed.
if [ "$user" = root ]; then
  ip netns exec "nv-$tag-tool" env -i "${pass[@]}" "$ui" &
else
  ip netns exec "nv-$tag-tool" setpriv --reuid="$(id -u "$user")" --regid="$(id -g "$user")" --init-groups \
    env -i "${pass[@]}" "$ui" &
fi
window_pid=$!
status=0
wait "$window_pid" || status=$?
window_pid=""
exit "$status"
