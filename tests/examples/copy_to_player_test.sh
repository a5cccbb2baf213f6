#!/usr/bin/env bash
# The README's first script, run as the README shows it from the repository's top folder: the server
# registered with regsvr32, a new player served by playersim until its standard input closes,
# examples/copy_to_player.vbs under cscript with a relative path, and the server unregistered.
# Arguments: the repository's top folder and the x86_64 build tree.
set -euo pipefail
top=$1
cd "$top"
build=$(realpath --relative-to="$top" "$2")
bin=$build/bin
work=$build/tests/examples/copy_to_player
rm -rf "$work"
mkdir -p "$work/back"
pipe=kwep-example-$$

fail() {
  echo "FAIL: $*"
  exit 1
}

scripts/wine-exec regsvr32 "$bin/ZAVTCTRL.dll" || fail "regsvr32"
registered=1
coproc SIM { scripts/wine-exec "$bin/playersim.exe" --create "$work/player" --model 9 --pipe "$pipe" 2>"$work/playersim.err"; }
simpid=$SIM_PID
input=${SIM[1]}
# Closing its standard input ends playersim, which then saves the player: the exit code tells.
stop_player() {
  [ -n "$input" ] && eval "exec $input>&-"
  input=
  local code=0
  [ -n "$simpid" ] && { wait "$simpid" || code=$?; }
  simpid=
  return $code
}
finish() {
  stop_player || true
  [ -n "${registered:-}" ] && scripts/wine-exec regsvr32 /u "$bin/ZAVTCTRL.dll" >/dev/null 2>&1 || true
}
trap finish EXIT
path=
read -r path <&"${SIM[0]}" || true
path=${path%$'\r'}
[ "$path" = "\\\\.\\pipe\\$pipe" ] || fail "playersim served no player: $(cat "$work/playersim.err")"

status=0
out=$(KWEP_SIMULATED_PLAYER=$path scripts/wine-exec cscript //nologo examples/copy_to_player.vbs README.md "$work/back") ||
  status=$?
out=${out//$'\r'/}
echo "$out"
[ "$status" -eq 0 ] || fail "the script ended with $status"
grep -q '^KWEP .*, model 9, firmware ' <<<"$out" || fail "no identity line"
grep -q '^  \\MUSIC\\README.md  '"$(stat -c %s README.md)"' bytes$' <<<"$out" || fail "the file is not listed in \\MUSIC"
cmp README.md "$work/back/README.md" || fail "the copy back differs from the file"

stop_player || fail "playersim did not save the player: $(cat "$work/playersim.err")"
echo "all checks passed"
