#!/usr/bin/env bash
# Makes the release ZIP of a build with CPack, checks what it holds, unpacks it and runs its
# Orvel.exe on a script in the Wine prefix named by ORVEL_WINEPREFIX, a prefix that has never seen
# the build: the program finds nothing there but what the archive brought. Reads the resources of
# that Orvel.exe back with the resource compiler WINDRES.
#   release-package.sh CPACK BUILD_DIR SOURCE_DIR WINDRES
set -u
cpack=$1
build=$2
source=$3
windres=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=$ORVEL_WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fail=0

"$cpack" -G ZIP --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; exit 1; }
zips=("$work"/out/*.zip)
[ "${#zips[@]}" -eq 1 ] && [ -f "${zips[0]}" ] || { echo "no single ZIP in: ${zips[*]}"; exit 1; }
top=$(basename "${zips[0]}" .zip)
[[ $top == Orvel-*-win64 ]] || { echo "the archive $top.zip is not named as a 64-bit release"; fail=1; }

runtime=(libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
expected=("$top/README.md" "$top/docs/guide.md" "$top/bin/Orvel.exe" "$top/bin/Velmarik.dll"
          "$top/lib/libVelmarik.dll.a")
for dll in "${runtime[@]}"; do expected+=("$top/bin/$dll"); done
for header in "$source"/library/include/*.h; do expected+=("$top/include/$(basename "$header")"); done
(cd "$work" && cmake -E tar xf "${zips[0]}") || { echo "cannot unpack ${zips[0]}"; exit 1; }
if ! diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$work" && find "$top" -type f | sort); then
  echo "the archive's files differ from the expected ones (< expected, > found)"
  fail=1
fi

# The computer's name as Wine gives it to programs, for the prompt of the connected console.
computer=$(wine cmd /c echo %COMPUTERNAME% </dev/null | tr -d '\r\n')
printf 'connect %s 5\r\ninterrogate QuorvanPackageAbsent\r\ncl\r\ncallc\r\nexit\r\n' "$computer" >"$work/script.txt"
(cd "$work" && wine "$top/bin/Orvel.exe" /s script.txt </dev/null >out.bin 2>err.bin)
status=$?
[ "$status" -eq 0 ] || { echo "exit code $status"; fail=1; }

row="$computer"$'\t(local)\t| 5'
printf '%s\r\n' '' 'Quorvan version 0.3.4d' 'Console version.' \
  $'(c) 2026 Equipe Orvel et Velmarik. Tous droits r\xe9serv\xe9s.' '' \
  "Quorvan> connect $computer 5" '' \
  "Quorvan @ $computer (local) | 5 > interrogate QuorvanPackageAbsent" '' \
  "Quorvan @ $computer (local) | 5 > cl" $'Ordinateurs actuellement connect\xe9s :' "1 : $row" '' \
  "Connection active => 1 : $row" '' \
  "Quorvan @ $computer (local) | 5 > callc" '' '' \
  'Quorvan> exit' '' >"$work/expected-out.bin"
printf '%s\r\n' '' '============================================' '| Error, GetLastError() = 1060' \
  '============================================' '' >"$work/expected-err.bin"
for stream in out err; do
  if ! cmp -s "$work/expected-$stream.bin" "$work/$stream.bin"; then
    echo "standard $stream differs (< expected, > written):"
    diff <(cat -A "$work/expected-$stream.bin") <(cat -A "$work/$stream.bin")
    fail=1
  fi
done
# Its version resource gives the banner's line ("Quorvan version 0.3.4d") and its manifest, of
# resource type 24 and id 1, asks to run as invoker.
resources=$("$windres" -i "$work/$top/bin/Orvel.exe" -O rc)
product=$(sed -n 's/^ *VALUE "ProductName", "\(.*\)"$/\1/p' <<<"$resources")
version=$(sed -n 's/^ *VALUE "ProductVersion", "\(.*\)"$/\1/p' <<<"$resources")
banner=$(sed -n '2s/\r$//p' "$work/out.bin")
if [ "$product version $version" != "$banner" ]; then
  echo "the version resource reads '$product version $version', the banner '$banner'"
  fail=1
fi
# The numeric version (FILEVERSION, PRODUCTVERSION and the FileVersion text) is the banner's too:
# major, minor, patch and the rank of the fix letter in the alphabet (a = 1, none = 0).
banner_version=${banner##* }
version_numbers=${banner_version%%[a-z]}
letter=${banner_version#"$version_numbers"}
rank=0
[ -n "$letter" ] && rank=$(($(printf '%d' "'$letter") - $(printf '%d' "'a") + 1))
numeric="${version_numbers//./, }, $rank"
for field in FILEVERSION PRODUCTVERSION; do
  found=$(sed -n "s/^ *$field \(.*\)$/\1/p" <<<"$resources")
  if [ "$found" != "$numeric" ]; then
    echo "the version resource's $field is '$found', the banner's version $banner_version gives '$numeric'"
    fail=1
  fi
done
file_version=$(sed -n 's/^ *VALUE "FileVersion", "\(.*\)"$/\1/p' <<<"$resources")
if [ "$file_version" != "${numeric//, /.}" ]; then
  echo "the version resource's FileVersion is '$file_version', the banner's version $banner_version gives '${numeric//, /.}'"
  fail=1
fi
if ! sed -n '/^1 24 /,/^END/p' <<<"$resources" | grep -q 'level=""asInvoker""'; then
  echo "Orvel.exe has no manifest that runs it as invoker"
  fail=1
fi
[ "$fail" -eq 0 ] && echo "the release archive $top.zip runs in a fresh prefix as expected"
exit "$fail"
