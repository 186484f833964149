# shellcheck shell=bash disable=SC2034  # the variables are for the scripts that source this
# Sourced by the OVMF runs and their checks: the options they all take, the
# boot through run_ovmf.sh (the one launcher), and the check helpers.

fw_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# ovmf_options NAME TAKES ARGS...: the options of the OVMF scripts, into the
# variables below; a script changes their defaults before it calls this.
# TAKES lists the options the script takes, without their dashes.
#   --work DIR  --images DIR  --tools DIR  --rom FILE  --timeout SECONDS
#   --script FILE  --file PATH (repeatable)
#   --monitor-on serial|debugcon REGEX COMMAND (repeatable)  -- QEMU ARGS...
#   --secure-boot  --vars FILE  --boot-app FILE
work="" images="$(cd "$fw_dir/../.." && pwd)/build/efi" tools="" rom="" timeout_s=120
script="$fw_dir/startup.nsh" files=() triggers=() extra=()
secure_boot="" vars_from="" boot_app=""
ovmf_options() {
  local name=$1 takes=" $2 " option
  shift 2
  while [ $# -gt 0 ]; do
    option=${1#--}
    [ "$1" = -- ] && option=--
    case "$takes" in
      *" $option "*) ;;
      *) echo "$name: unknown argument $1" >&2; exit 2 ;;
    esac
    case "$1" in
      --work) work=$2; shift 2 ;;
      --images) images=$2; shift 2 ;;
      --tools) tools=$2; shift 2 ;;
      --rom) rom=$2; shift 2 ;;
      --timeout) timeout_s=$2; shift 2 ;;
      --script) script=$2; shift 2 ;;
      --file) files+=("$2"); shift 2 ;;
      --monitor-on) triggers+=("$2" "$3" "$4"); shift 4 ;;
      --secure-boot) secure_boot=1; shift ;;
      --vars) vars_from=$2; shift 2 ;;
      --boot-app) boot_app=$2; shift 2 ;;
      --) shift; extra=("$@"); break ;;
    esac
  done
  [ -n "$work" ] || { echo "$name: --work DIR is required" >&2; exit 2; }
}

# ovmf_boot ARGS...: run_ovmf.sh with --work, --images and --timeout as
# parsed, and ARGS. Returns its status; exits 2 when the run could not be
# set up (its message says why).
ovmf_boot() {
  local rc=0
  "$fw_dir/run_ovmf.sh" --work "$work" --images "$images" --timeout "$timeout_s" "$@" || rc=$?
  [ "$rc" -eq 2 ] && exit 2
  return "$rc"
}

# ---- checks: one line each, "ok" or "FAIL" (and "NOTE", "info", "time")
failures=0
pass() { echo "ok    $*"; }
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

# checks_begin WORKDIR: the logs of a run_ovmf.sh work directory, in debug,
# console and result; a missing one ends the check.
checks_begin() {
  work=$1 debug="$1/debugcon.log" console="$1/console.txt" result="$1/result"
  local f
  for f in "$debug" "$console" "$result"; do
    [ -f "$f" ] || { echo "FAIL  $f missing: did run_ovmf.sh run?"; exit 1; }
  done
}

# field KEY LINE: the value of a flat member of a JSON line, without quotes.
field() { printf '%s' "$2" | sed -n -E "s/.*\"$1\":(\"[^\"]*\"|[^,}]*).*/\1/p" | tr -d '"'; }

# expect WHAT LINE KEY VALUE [NAME]: the member KEY of the JSON line is
# VALUE; NAME names the line when there is none.
expect() {
  local got
  got=$(field "$3" "$2")
  if [ -z "$2" ]; then fail "$1: no ${5:+$5 }line on the debug console"
  elif [ "$got" = "$4" ]; then pass "$1 ($3=$got)"
  else fail "$1: $3 is '${got:-<missing>}', expected '$4'"; fi
}
# at_least WHAT LINE KEY N
at_least() {
  local got
  got=$(field "$3" "$2")
  if [ -n "$got" ] && [ "$got" -ge "$4" ] 2>/dev/null; then pass "$1 ($3=$got)"
  else fail "$1: $3 is '${got:-<missing>}', expected at least $4"; fi
}

# between FROM TO: the console from the line starting FROM to the next one
# starting TO (the markers the Shell scripts echo).
between() { sed -n "/^$1/,/^$2/p" "$console"; }
# drivers_row FROM TO: our driver's row of a Shell 'drivers' listing.
driver_name="ZEL Quovan UGA Driver 01.00.121"
drivers_row() { between "$1" "$2" | grep -F "$driver_name" | head -n 1; }

# The run ended by itself (ResetSystem or reset -s) inside the timeout.
expect_powered_off() {
  local qemu_status seconds
  qemu_status=$(awk '$1 == "qemu_status" { print $2 }' "$result")
  seconds=$(awk '$1 == "seconds" { print $2 }' "$result")
  if [ "$qemu_status" = 0 ]; then
    pass "firmware powered off by itself after ${seconds}s"
  else
    fail "QEMU status $qemu_status after ${seconds}s (124: killed at the timeout)"
  fi
}

# checks_end [SHOW]: the last line; after a failure SHOW (a function)
# prints what helps, and the script exits 1.
checks_end() {
  if [ "$failures" -gt 0 ]; then
    [ $# -gt 0 ] && "$1"
    echo "$failures check(s) failed; logs in $work"
    exit 1
  fi
  echo "all checks passed; logs in $work"
}
