#!/usr/bin/env bash
# Runs Orvel.exe interactively in a pseudo-terminal, so that it has a real console: the title is
# set, the French text shows as French (banner, headings, the tree's box drawing), what is typed
# arrives as typed, listing rows reach the console and `cls` clears the screen buffer. Each line is
# typed only once its prompt shows: a prompt left in a buffer until the next line end fails the
# session. The terminal's escape sequences make byte-exact comparison meaningless here; the
# pipe-based tests do that.
set -u
orvel=$1
runner=$2
service=QuorvanConsoleDemo
output=$(mktemp)
input=$(mktemp -u)
mkfifo "$input"
export LC_ALL=C.UTF-8
cleanup() {
  exec 3>&-
  "$runner" sc delete "$service" >/dev/null 2>&1
  rm -f "$output" "$input"
}
trap cleanup EXIT
"$runner" sc create "$service" binpath= 'C:\windows\system32\notepad.exe' displayname= "Démo àccentuée" >/dev/null 2>&1
timeout 120 script -qec "'$runner' '$orvel'" /dev/null < "$input" > "$output" 2>&1 &
session=$!
exec 3> "$input"
fail=0
prompts=0
# Types a line once the console shows one prompt more than before (20 s at most).
type_line() {
  prompts=$((prompts + 1))
  for _ in $(seq 200); do
    if [ "$(grep -o 'Quorvan[^>]*>' "$output" | wc -l)" -ge "$prompts" ]; then
      printf '%s\r' "$1" >&3
      return 0
    fi
    sleep 0.1
  done
  echo "no prompt shown before the read of: $1"
  fail=1
  kill "$session"
  return 1
}
# Types the password once its question shows; the console must not show it.
password=Zyx987Secret
type_password() {
  for _ in $(seq 200); do
    if grep -q 'Mot de passe :' "$output"; then
      printf '%s\r' "$password" >&3
      return 0
    fi
    sleep 0.1
  done
  echo "no password question shown"
  fail=1
  kill "$session"
  return 1
}
for line in 'help lock' 'cls' 'connect .' 'enum dependent_services Spooler' 'query status Spooler' 'cmdtree' \
            'get service key_name "Démo àccentuée"' 'connect . 5' 'enum services' \
            "set config $service account=LocalSystem password=*" 'exit'; do
  type_line "$line" || break
  case $line in set\ config*) type_password || break ;; esac
done
wait "$session"
status=$?
expect() {
  if ! grep -qF -- "$1" "$output"; then
    echo "missing from the console session: $1"
    fail=1
  fi
}
[ "$status" -eq 0 ] || { echo "exit code $status"; fail=1; }
expect "Tous droits réservés."
expect $'\e]0;Quorvan version 0.3.4d - Non connecté\a'
expect "CAN_BE_LOCKED   - Demande si la base des services peut être verrouillée."
expect "STATUS          - Affiche l'état de verrouillage de la base des services."
expect $'\e[H'
expect "Dépendances de Spooler :"
expect "Il y a 0 dépendances."
expect "Propriétés :"
expect "├─── help"
expect "└─── status"
expect "Key Name = $service"
# The listing's row, with the accented display name as characters. The terminal may render a
# run of spaces as a cursor move.
gap=$'( |\e\\[[0-9]*C|\e\\[K)+'
if ! grep -qE -- "$service${gap}Arrêté${gap}Démo àccentuée" "$output"; then
  echo "missing from the console session: the row of $service in enum services"
  fail=1
fi
if ! grep -qE -- "Mot de passe${gap}:${gap}changé" "$output"; then
  echo "missing from the console session: the password changed"
  fail=1
fi
if grep -qF -- "$password" "$output"; then
  echo "the password showed on the console"
  fail=1
fi
[ "$fail" -eq 0 ] && echo "console session as expected"
exit "$fail"
