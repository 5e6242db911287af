#!/usr/bin/env bash
# Runs Orvel.exe in a pseudo-terminal, so that it has a real console: the title is set, listing
# rows go to the console as wide text and `cls` clears the screen buffer. The terminal's escape
# sequences make byte-exact comparison meaningless here; the pipe-based tests do that.
set -u
orvel=$1
runner=$2
script_file=$(mktemp --suffix=.txt)
output=$(mktemp)
trap 'rm -f "$script_file" "$output"' EXIT
printf 'help lock\ncls\nexit\n' > "$script_file"
# A name relative to the working folder needs no translation into a Windows path.
cd "$(dirname "$script_file")" || exit 1
timeout 120 script -qec "'$runner' '$orvel' /s '$(basename "$script_file")'" /dev/null > "$output" 2>&1
status=$?
fail=0
expect() {
  if ! grep -qF -- "$1" "$output"; then
    echo "missing from the console session: $1"
    fail=1
  fi
}
[ "$status" -eq 0 ] || { echo "exit code $status"; fail=1; }
expect $'\e]0;Quorvan version 0.3.4d - Non connecté\a'
expect "CAN_BE_LOCKED   - Demande si la base des services peut être verrouillée."
expect "STATUS          - Affiche l'état de verrouillage de la base des services."
expect $'\e[H'
[ "$fail" -eq 0 ] && echo "console session as expected"
exit "$fail"
