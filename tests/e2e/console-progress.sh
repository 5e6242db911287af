#!/usr/bin/env bash
# Runs Orvel.exe interactively in a terminal multiplexer's pane, whose screen can be read while a
# command runs: a start of the test service that takes 5 s shows its progress line while it waits
# (the service, its state, the seconds and the checkpoint), changing in place, and once the start
# is over the screen holds exactly what a quick start of the same service leaves there.
set -u
orvel=$1
test_service=$2
runner=$3
service=QuorvanProgressDemo
socket=orvel-progress-$$
binary='Z:'$(printf '%s' "$test_service" | tr / '\\')
screen_slow=$(mktemp)
screen_quick=$(mktemp)
during=$(mktemp)
export LC_ALL=C.UTF-8
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null
  "$runner" sc stop "$service" >/dev/null 2>&1
  "$runner" sc delete "$service" >/dev/null 2>&1
  rm -f "$screen_slow" "$screen_quick" "$during"
}
trap cleanup EXIT
fail=0
prompt='Quorvan[^>]*>'
progress_line="^$service : Démarrage en cours, [0-9]+ s sur [0-9]+ s, point de contrôle [0-9]+$"

screen() { tmux -L "$socket" capture-pane -p -t orvel; }

# Waits until the screen shows `count` prompts (30 s at most).
await_prompts() {
  for _ in $(seq 300); do
    [ "$(screen | grep -o "$prompt" | wc -l)" -ge "$1" ] && return 0
    sleep 0.1
  done
  echo "the screen never showed $1 prompts:"
  screen
  return 1
}

# (Re)creates the service, stopped, with a start that takes `$1` ms. Wine's sc has no config
# command: the service is deleted and created again.
install() {
  "$runner" sc stop "$service" >/dev/null 2>&1
  for _ in $(seq 100); do
    "$runner" sc query "$service" 2>/dev/null | grep -q RUNNING || break
    sleep 0.2
  done
  "$runner" sc delete "$service" >/dev/null 2>&1
  "$runner" sc create "$service" binpath= "$binary /start:$1" >/dev/null 2>&1
}

# One session: connect, start the service, then keep the screen the start left in `$1`. Each
# screen read while the start runs goes to `$2`.
session() {
  tmux -L "$socket" new-session -d -s orvel -x 100 -y 30 "'$runner' '$orvel'"
  await_prompts 1 || return 1
  tmux -L "$socket" send-keys -t orvel 'connect .' Enter
  await_prompts 2 || return 1
  tmux -L "$socket" send-keys -t orvel "start $service" Enter
  for _ in $(seq 300); do
    screen >> "$2"
    [ "$(screen | grep -o "$prompt" | wc -l)" -ge 3 ] && break
    sleep 0.2
  done
  await_prompts 3 || return 1
  screen > "$1"
  tmux -L "$socket" kill-session -t orvel
}

install 5000
session "$screen_slow" "$during" || fail=1
if [ "$(grep -E -- "$progress_line" "$during" | sort -u | wc -l)" -lt 2 ]; then
  echo "no progress line that changed while the start waited; the screens read:"
  cat "$during"
  fail=1
fi
install 0
: > "$during"
session "$screen_quick" "$during" || fail=1
if grep -qE -- "$progress_line" "$during"; then
  echo "the quick start showed a progress line: it was not quick"
  fail=1
fi
if ! cmp -s "$screen_slow" "$screen_quick"; then
  echo "the screen after the slow start differs from the one after a quick start:"
  diff "$screen_quick" "$screen_slow"
  fail=1
fi
[ "$fail" -eq 0 ] && echo "progress line shown while waiting, screen as without it after the wait"
exit "$fail"
