#!/usr/bin/env bash
# Test network namespaces for the PE tests and the demo.
#
#   netns.sh up <tag>     makes nv-<tag>-tool and nv-<tag>-dev, joined by a
#                         veth pair: tool side nv-tool 10.77.0.1/16 with its
#                         default route via 10.77.0.2, device side nv-dev
#                         10.77.0.2/16; lo is up in both
#   netns.sh down <tag>   stops what still runs in nv-<tag>-dev and removes
#                         both namespaces (the veth pair goes with them); fine
#                         to call when they are already gone
#   netns.sh sweep        removes the namespaces of test runs whose process
#                         is gone (tags t<pid>n<number>, see NetnsFixture)
#   netns.sh list         prints the nv-* namespaces
#
# Sourcing it gives the functions nv_netns_up, nv_netns_down, nv_netns_sweep
# and nv_netns_names without running anything. Everything needs root and the
# ip tool; without them it fails with a message and a non-zero status, never
# quietly. Nothing here touches the host's own interfaces: every link is made
# inside the new namespaces.

NV_TOOL_ADDR=10.77.0.1
NV_DEV_ADDR=10.77.0.2
NV_PREFIX_LEN=16

nv_err() {
  echo "netns.sh: $*" >&2
}

# Checks what every operation needs; prints why not and returns 1 otherwise.
nv_netns_check() {
  if [ "$(id -u)" -ne 0 ]; then
    nv_err "network namespaces need root (run as root or with sudo)"
    return 1
  fi
  if ! command -v ip >/dev/null 2>&1; then
    nv_err "the 'ip' tool is missing (Debian package iproute2)"
    return 1
  fi
}

nv_netns_check_tag() {
  if ! [[ "${1:-}" =~ ^[A-Za-z0-9_]{1,32}$ ]]; then
    nv_err "bad tag '${1:-}': use 1 to 32 letters, digits or _"
    return 1
  fi
}

# Prints "nv-<tag>-tool nv-<tag>-dev".
nv_netns_names() {
  echo "nv-$1-tool nv-$1-dev"
}

nv_netns_exists() {
  ip netns list 2>/dev/null | awk '{print $1}' | grep -qx -- "$1"
}

nv_netns_up() {
  local tag=${1:-}
  nv_netns_check || return 1
  nv_netns_check_tag "$tag" || return 1
  local tool="nv-$tag-tool" dev="nv-$tag-dev"
  if nv_netns_exists "$tool" || nv_netns_exists "$dev"; then
    nv_err "namespaces for tag '$tag' already exist; run 'netns.sh down $tag' first"
    return 1
  fi
  local step
  for step in \
    "ip netns add $tool" \
    "ip netns add $dev" \
    "ip -n $tool link add nv-tool type veth peer name nv-dev netns $dev" \
    "ip -n $tool link set lo up" \
    "ip -n $dev link set lo up" \
    "ip -n $tool addr add $NV_TOOL_ADDR/$NV_PREFIX_LEN dev nv-tool" \
    "ip -n $dev addr add $NV_DEV_ADDR/$NV_PREFIX_LEN dev nv-dev" \
    "ip -n $tool link set nv-tool up" \
    "ip -n $dev link set nv-dev up" \
    "ip -n $tool route add default via $NV_DEV_ADDR"; do
    if ! $step; then
      nv_err "failed: $step"
      nv_netns_down "$tag" || true
      return 1
    fi
  done
}

nv_netns_down() {
  local tag=${1:-}
  nv_netns_check || return 1
  nv_netns_check_tag "$tag" || return 1
  local tool="nv-$tag-tool" dev="nv-$tag-dev" failed=0 pids
  # Only the device namespace is emptied: the harness starts the emulators
  # there, while the tool namespace may hold the test process itself.
  if nv_netns_exists "$dev"; then
    pids=$(ip netns pids "$dev" 2>/dev/null | tr '\n' ' ')
    if [ -n "${pids// /}" ]; then
      # shellcheck disable=SC2086
      kill -TERM $pids 2>/dev/null || true
      local waited=0
      while [ $waited -lt 20 ] && [ -n "$(ip netns pids "$dev" 2>/dev/null)" ]; do
        sleep 0.1
        waited=$((waited + 1))
      done
      pids=$(ip netns pids "$dev" 2>/dev/null | tr '\n' ' ')
      if [ -n "${pids// /}" ]; then
        # shellcheck disable=SC2086
        kill -KILL $pids 2>/dev/null || true
      fi
    fi
  fi
  local ns
  for ns in "$tool" "$dev"; do
    if nv_netns_exists "$ns" && ! ip netns del "$ns"; then
      nv_err "could not remove $ns"
      failed=1
    fi
  done
  return $failed
}

nv_netns_sweep() {
  nv_netns_check || return 1
  local ns tag pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E '^nv-t[0-9]+n[0-9]+-(tool|dev)$'); do
    tag=${ns#nv-}
    tag=${tag%-*}
    pid=${tag#t}
    pid=${pid%%n*}
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "netns.sh: removing $ns left by process $pid" >&2
      nv_netns_down "$tag" || true
    fi
  done
}

nv_netns_main() {
  local usage="usage: netns.sh up <tag> | down <tag> | sweep | list"
  case "${1:-}" in
    up)    [ $# -eq 2 ] || { nv_err "$usage"; return 2; }; nv_netns_up "$2" ;;
    down)  [ $# -eq 2 ] || { nv_err "$usage"; return 2; }; nv_netns_down "$2" ;;
    sweep) nv_netns_sweep ;;
    list)  nv_netns_check || return 1; ip netns list | awk '{print $1}' | grep '^nv-' || true ;;
    -h|--help) echo "$usage" ;;
    *)     nv_err "$usage"; return 2 ;;
  esac
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  nv_netns_main "$@"
  exit $?
fi
