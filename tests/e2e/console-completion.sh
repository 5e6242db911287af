#!/usr/bin/env bash
# Drives Orvel.exe in a terminal (tmux) under Wine's own console and reads the screen after each
# key: Tab completes commands, fixed words and service key names (in quotes when they hold a space),
# a second Tab cycles and Shift+Tab goes back, the completed line runs, nothing completes a
# service name without a connection, and on the console the error banner carries the platform's
# text for its code.
set -u
export LC_ALL=C.UTF-8
orvel=$1
runner=$2
service="Quorvan Tab Demo"
socket="orvel-completion-$$"
tmux_() { tmux -L "$socket" "$@"; }
cleanup() {
  tmux_ kill-server >/dev/null 2>&1
  "$runner" sc delete "$service" >/dev/null 2>&1
}
trap cleanup EXIT
"$runner" sc create "$service" binpath= 'C:\windows\system32\notepad.exe' >/dev/null 2>&1
tmux_ new-session -d -x 120 -y 50 "'$runner' '$orvel'; sleep 30"
# The first miss ends the session: what follows would only repeat it.
give_up() {
  echo "$1"
  tmux_ capture-pane -p -S -
  exit 1
}

# What is typed after the prompt, up to the cursor: trailing spaces, which the terminal does not
# keep apart from empty cells, count by the cursor's place.
input_line() {
  local row column line
  row=$(tmux_ display-message -p '#{cursor_y}')
  column=$(tmux_ display-message -p '#{cursor_x}')
  line="$(tmux_ capture-pane -p | sed -n "$((row + 1))p")$(printf '%*s' "$column" '')"
  printf '%s' "${line:0:$column}" | sed 's/^Quorvan[^>]*> //'
}
# Waits (20 s at most) until the typed line is `$1`.
expect_input() {
  local shown=""
  for _ in $(seq 200); do
    shown=$(input_line)
    [ "$shown" = "$1" ] && return 0
    sleep 0.1
  done
  give_up "typed line: expected '$1', shown '$shown'"
}
# Waits (20 s at most) until the command `$@` accepts the screen, history included, as its input.
until_screen() {
  for _ in $(seq 200); do
    tmux_ capture-pane -p -S - | "$@" && return 0
    sleep 0.1
  done
  return 1
}
# Waits until the screen holds a line that matches the extended expression `$1`.
expect_screen() {
  until_screen grep -qE -- "$1" || give_up "missing from the screen: $1"
}
keys() { tmux_ send-keys "$@"; }
# Erases the typed line `$1`.
erase() {
  for _ in $(seq ${#1}); do keys BSpace; done
  expect_input ""
}

expect_screen '^Quorvan>$'
keys 'sto' Tab && expect_input 'stop ' && erase 'stop '
keys 'query st' Tab && expect_input 'query status ' && erase 'query status '
keys 'stop Spo' Tab && expect_input 'stop Spo' && erase 'stop Spo'
keys 'help lo' Tab && expect_input 'help lock ' && keys Enter
expect_screen '^CAN_BE_LOCKED +- Demande si la base des services peut'
keys 'connect .' Enter
expect_screen '^Quorvan @ \. \(local\) \| 1 >$'
keys 'stop Spo' Tab && expect_input 'stop Spooler ' && erase 'stop Spooler '
keys 's' Tab && expect_input 'sactc '
keys Tab && expect_input 'set '
keys BTab && expect_input 'sactc ' && erase 'sactc '
keys 'query status Quorvan' Tab && expect_input "query status \"$service\" " && keys Enter
expect_screen '^lpSvcStatusProcess->dwCurrentState += 1$'
keys 'start NoSuchService' Enter
# The banner's line under the code holds a text, not its closing rule.
text_under_code() {
  grep -A1 -E '^\| Error, GetLastError\(\) = 1060$' | tail -1 | grep -qE '^\| [^=].+'
}
until_screen text_under_code || give_up "the banner shows no text for 1060"
keys 'exit' Enter
echo "completion and the banner's text as expected"
