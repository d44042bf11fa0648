#!/bin/sh
# The program a container starts in the POSIX end-to-end runs: reports what it sees; test helper only.
# Writes to $SFXRUN_PROBE_REPORT its own path, its working folder, its argument count, every file
# beside it (size, mtime in seconds UTC, sha256), its folder's mode and the launcher's open
# descriptors, in the line format the Windows probe writes too. SFXRUN_PROBE_SLEEP delays the
# report (so it proves the launcher waited), SFXRUN_PROBE_LEAVE names a file it leaves beside
# itself, SFXRUN_PROBE_EXIT is its exit code.
[ -n "${SFXRUN_PROBE_SLEEP:-}" ] && sleep "$SFXRUN_PROBE_SLEEP"
report=${SFXRUN_PROBE_REPORT:?no report file named}
folder=$(dirname -- "$0")
launcher=$PPID
{
  printf 'path\t%s\n' "$0"
  printf 'cwd\t%s\n' "$(pwd -P)"
  printf 'argc\t%s\n' "$#"
  printf 'mode\t%s\n' "$(stat -c %a -- "$folder")"
  for f in "$folder"/* "$folder"/.[!.]* "$folder"/..?*; do
    [ -e "$f" ] || [ -L "$f" ] || continue
    name=${f##*/}
    if [ -d "$f" ]; then
      printf 'dir\t%s\n' "$name"
    else
      set -- $(stat -c '%s %Y' -- "$f") $(sha256sum < "$f")
      printf 'file\t%s\t%s\t%s\tsha256:%s\n' "$name" "$1" "$2" "$3"
    fi
  done
  # The launcher must hold nothing of its own file while the program runs.
  for fd in /proc/"$launcher"/fd/*; do
    printf 'fd\t%s\t%s\n' "${fd##*/}" "$(readlink "$fd")"
  done
  printf 'launcher\t%s\n' "$(readlink /proc/"$launcher"/exe)"
  printf 'end\n'
} > "$report.part"
mv -f "$report.part" "$report"
[ -n "${SFXRUN_PROBE_LEAVE:-}" ] && printf 'left by the probe\n' > "$folder/$SFXRUN_PROBE_LEAVE"
exit "${SFXRUN_PROBE_EXIT:-0}"
