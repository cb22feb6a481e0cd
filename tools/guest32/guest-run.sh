# Runs inside the 32-bit guest (started by /sbin/guest32-init from the disk
# the host made): every line of runs.txt, "NAME|FOLDER|SECONDS|ENV|PROGRAM|ARGS",
# as one 32-bit Wine process (or, for a PROGRAM ending in .sh, a shell script
# that starts one) in FOLDER with the VAR=value words of ENV (none
# for most runs) in its environment, killed after SECONDS. Output and exit
# status go to results/ on the same disk, a line per run to the console.
# One persistent wineserver serves all runs, as ./dev test does with wine64.
T=/mnt/t32
set -f  # the arguments carry GoogleTest patterns, not file names
mkdir -p "$T/results"
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1
while IFS='|' read -r name folder limit envs program args; do
  [ -n "$name" ] || continue
  echo "guest32: start $name"
  start=$(date +%s)
  # A run script (.sh) starts its Windows program itself.
  runner=wine
  case "$program" in *.sh) runner=sh ;; esac
  # shellcheck disable=SC2086  # the arguments are words without blanks
  (cd "$T/$folder" && timeout -k 10 "$limit" env $envs $runner "$T/$program" $args) \
    >"$T/results/$name.out" 2>&1 </dev/null
  rc=$?
  took=$(( $(date +%s) - start ))
  echo "$rc $took" > "$T/results/$name.rc"
  # On the disk now: a guest stopped at its time limit still reports what ran.
  sync
  echo "guest32: end $name exit $rc after $took s"
done < "$T/runs.txt"
wineserver -k
sync
