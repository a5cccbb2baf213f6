#!/usr/bin/env bash
# The README's run command as a person runs it: scripts/run on the display, the manager's window found
# and closed with the keyboard, a command typed for the simulated player answered, the demo player saved;
# and without a display, a clear message and no start.
# Arguments: the repository's top folder and the x86_64 build tree.
set -euo pipefail
top=$1
build=$2
work=$build/tests/examples/run
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "FAIL: $*"
  for f in "$work"/run.out "$work"/run.err; do [ -f "$f" ] && sed 's/^/  /' "$f"; done
  exit 1
}
# Polls for a condition (a command) with a generous bound, for events this script cannot wait on.
wait_for() {
  local what=$1
  shift
  for _ in $(seq 1 1200); do
    "$@" && return 0
    sleep 0.25
  done
  fail "no $what"
}

if out=$(env -u DISPLAY "$top/scripts/run" 2>&1 </dev/null); then
  fail "scripts/run started without a display"
fi
grep -q "no display" <<<"$out" || fail "no clear message without a display: $out"

[ -n "${DISPLAY:-}" ] || fail "this test needs the suite's display"
mkfifo "$work/typed"
KWEP_DEMO_PLAYER="$work/player" "$top/scripts/run" <"$work/typed" >"$work/run.out" 2>"$work/run.err" &
run=$!
exec 3>"$work/typed"

window() { id=$(xdotool search --onlyvisible --name '^KWEP Manager 2$' 2>/dev/null | head -n1) && [ -n "$id" ]; }
wait_for "manager window" window
echo "the manager's window is shown ($id)"

echo "pace 0" >&3
answered() { grep -q "^ok: pace 0" "$work/run.out"; }
wait_for "answer from the simulated player" answered
echo "the simulated player answered a typed command"

xdotool windowfocus --sync "$id" key --clearmodifiers alt+F4
ended() { ! kill -0 "$run" 2>/dev/null; }
wait_for "end of scripts/run after the window was closed" ended
exec 3>&-
# scripts/run passes the manager's exit code on (the framework's choice); what counts here is the player kept.
wait "$run" || true
grep -q "could not be saved\|did not start\|cannot register" "$work/run.err" && fail "scripts/run reported a failure"
[ -f "$work/player/player.cfg" ] || fail "the demo player was not kept"
echo "all checks passed"
