#!/usr/bin/env bash
# The soak: the server on a simulated board, for a bounded time, under a fast
# time source, hostile time sources that come and go, an operator's panel
# sending commands good and hostile, a receiver killed and restarted, and a
# SIGTERM at a random moment. Afterwards it must have exited cleanly, kept
# its threads, descriptors, NTP segments and resident memory flat after the
# warm-up, and left nothing behind. Exit status 1, with the reasons, on any
# violation. The samples go to $BUILD_DIR/soak/soak.csv, the logs beside.
#   scripts/soak.sh [SECONDS]   how long the server runs (default 180)
#   BUILD_DIR            build directory (default: build)
#   SOAK_RATE            simulated seconds per real second (default 20)
#   SOAK_WARMUP          seconds before the bounds apply (default 20)
#   SOAK_RSS_BOUND_KIB   resident memory allowed above the first sample
#                        after the warm-up (default 2048)
#   SOAK_SEED            seed of the random choices (default: the process id)
set -euo pipefail
export LC_ALL=C
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
out="$build_dir/soak"
duration=${1:-180}
rate=${SOAK_RATE:-20}
warmup=${SOAK_WARMUP:-20}
rss_bound=${SOAK_RSS_BOUND_KIB:-2048}
seed=${SOAK_SEED:-$$}
case "$duration$warmup$rss_bound$seed" in *[!0-9]*) echo "usage: scripts/soak.sh [SECONDS]" >&2; exit 2 ;; esac
if (( duration < warmup + 30 )); then
  echo "soak: run at least $((warmup + 30)) s (the warm-up of $warmup s and 30 s to measure)" >&2
  exit 2
fi
RANDOM=$seed

now() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }  # ms
"$root/scripts/install-deps.sh"
TARGETS="chronavel-sim utctime-source chronavel-cmd eventlog-monitor" "$root/scripts/build.sh"
sim_bin="$build_dir/src/sim/chronavel-sim"
tools="$build_dir/tools"

tmp=$(mktemp -d -t chronavel-soak.XXXXXX)
stop_flag="$tmp/stop"
sim_log="$tmp/simulator.log" fed_file="$tmp/fed" csv="$tmp/soak.csv"
declare -A pid=()
started=() violations=() shm_used=() loops=()
holder="" sim_status="" sim_dir="" ns=""
violation() { violations+=("$*"); echo "  VIOLATION: $*"; }

# Ends process $1 (a key of pid) with SIGTERM, and SIGKILL 10 s later.
stop() {
  local p=${pid[$1]:-} i
  [ -n "$p" ] || return 0
  kill -TERM "$p" 2>/dev/null || true
  for ((i = 0; i < 100; i++)); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$p" 2>/dev/null; then
    violation "$1 (pid $p) did not end on SIGTERM within 10 s: killed"
    kill -KILL "$p" 2>/dev/null || true
  fi
  wait "$p" 2>/dev/null || true
  unset "pid[$1]"
}
# What a process maps or holds open of /dev/shm; all of it must be gone once
# the process ended.
note_shm() {
  [ -n "${1:-}" ] || return 0
  mapfile -t -O "${#shm_used[@]}" shm_used < <({ grep -o '/dev/shm/[^ ]*' "/proc/$1/maps"
    find "/proc/$1/fd" -mindepth 1 -lname '/dev/shm/*' -printf '%l\n'; } 2>/dev/null | sort -u)
}

# Idempotent: at the end, and on failure or Ctrl-C.
# shellcheck disable=SC2317  # called from the traps
cleanup() {
  touch "$stop_flag" 2>/dev/null || true
  [ ! -e "$tmp/command.pid" ] || kill -TERM "$(<"$tmp/command.pid")" 2>/dev/null || true
  local p
  for p in "${loops[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${loops[@]}"; do wait "$p" 2>/dev/null || true; done
  loops=()
  stop chronavel-sim; stop utctime-source; stop eventlog-monitor; stop filter; stop holder
  [ -d "$tmp" ] || return 0
  mkdir -p "$out"; rm -f "$out"/*; cp "$tmp"/*.log "$tmp"/*.csv "$tmp"/*.txt "$tmp"/*.jsonl "$out"/ 2>/dev/null || true
  rm -rf "$tmp"
}
# shellcheck disable=SC2317  # called from the trap
on_exit() { local rc=$?; trap '' INT TERM; cleanup; exit "$rc"; }
trap on_exit EXIT
trap 'echo " interrupted: stopping" >&2; exit 130' INT
trap 'exit 143' TERM

# A private configuration: the example set with a DDS domain of its own on
# loopback UDP, the NTP echo on (it tells that the feed goes on), debug off
# and a short settling.
set_param() {  # file tag value
  grep -q "<$2>[^<]*</$2>" "$1" || { echo "soak: no <$2> in $1" >&2; exit 2; }
  sed -i "s|<$2>[^<]*</$2>|<$2>$3</$2>|" "$1"
}
domain=$((208 + $$ % 12))
top="$tmp/Chronavel.xml" conn="$tmp/Connections.xml"
cp "$root/config/Chronavel.xml" "$top"; cp "$root/config/Connections.xml" "$conn"
for p in "Connections=$conn" "IODevices=$root/config/IODevices.xml" Debug=FALSE PARAM_1=FALSE PARAM_9=3; do
  set_param "$top" "${p%%=*}" "${p#*=}"
done
for p in "DomainId=$domain" UseTransport=UDP; do set_param "$conn" "${p%%=*}" "${p#*=}"; done

sim_args=(--rate "$rate")
private=false
if [ "$(id -u)" -eq 0 ]; then private=true; sim_args+=(--private-ipc); fi
echo
echo "Chronavel soak: $duration s at ${rate}x on DDS domain $domain (UDP on loopback), seed $seed;"
echo "bounds after a warm-up of $warmup s: threads, descriptors and NTP segments flat, resident memory"
echo "at most $rss_bound KiB above its first sample. NTP shared memory: $($private && echo "an IPC namespace of the simulator's own" || echo "the host's (not root)")."
echo

# The simulator's log, without the per-message lines it only counts. (mawk
# reads a pipe line by line only when told.)
mkfifo "$tmp/sim.fifo"
echo "0 0" >"$fed_file"
awk_lines=()
if awk -W version 2>/dev/null | grep -q mawk; then awk_lines=(-W interactive); fi
awk "${awk_lines[@]}" -v counter="$fed_file" '
  function note() { print fed, stale > counter; close(counter) }
  /^NTP: ntpshm_put\(/ { fed++; note(); next }
  /Unable to fetch PPS clock timestamp$/ { stale++; note(); next }
  { print; fflush() }
  END { note(); print "soak: " fed + 0 " NTP samples, " stale + 0 " messages without a fresh PPS edge" }
' <"$tmp/sim.fifo" >"$sim_log" &
pid[filter]=$! started+=($!)
t0=$(now)
"$sim_bin" "${sim_args[@]}" "$top" >"$tmp/sim.fifo" 2>&1 &
pid[chronavel-sim]=$! started+=($!)
sim=${pid[chronavel-sim]}

wait_for() {  # seconds file text
  local deadline=$(( $(now) + $1 * 1000 ))
  until grep -q -F -- "$3" "$2" 2>/dev/null; do
    kill -0 "$sim" 2>/dev/null || { echo "soak FAILED: chronavel-sim ended before \"$3\"" >&2; tail -n 5 "$sim_log" >&2; exit 1; }
    (( $(now) < deadline )) || { echo "soak FAILED: no \"$3\" within $1 s" >&2; tail -n 5 "$sim_log" >&2; exit 1; }
    sleep 0.1
  done
}
wait_for 30 "$sim_log" "Chronavel - Success all is well with tss"
if $private; then
  # Holds the simulator's IPC namespace once the simulator is gone: what
  # the namespace then still has, the simulator left behind.
  ns=$(readlink "/proc/$sim/ns/ipc")
  [ "$ns" != "$(readlink /proc/$$/ns/ipc)" ] || { echo "soak FAILED: the simulator has no IPC namespace of its own" >&2; exit 1; }
  nsenter -t "$sim" -i sleep 1000000 &
  pid[holder]=$! started+=($!) holder=$!
fi
ntp_segments() {  # NTP segments of the simulator
  if $private; then
    nsenter -t "$holder" -i ipcs -m 2>/dev/null | awk 'tolower($1) ~ /^0x4e54503[0-7]$/ { n++ } END { print n + 0 }'
  else
    ipcs -m -p 2>/dev/null | awk -v p="$sim" '$3 == p { n++ } END { print n + 0 }'
  fi
}
segments_before=0
$private || segments_before=$(ipcs -m | awk 'tolower($1) ~ /^0x4e54503[0-7]$/ { n++ } END { print n + 0 }')

"$tools/eventlog-monitor" --config "$conn" --json >"$tmp/events.jsonl" 2>"$tmp/monitor.log" &
pid[eventlog-monitor]=$! started+=($!)
start_source() {
  "$tools/utctime-source" --config "$conn" --rate "$rate" --wait-reader 20 --quiet >>"$tmp/source.log" 2>&1 &
  pid[utctime-source]=$! started+=($!)
}
start_source

# Hostile time sources, one at a time for a few simulated seconds each: other
# servers, noise of a good part of a second, bad variances, late, another
# leap count, another rate (time of validity in another time base).
hostile_sources() {
  local sets=("--server-id 97" "--server-id 0 --noise-ns 5e8" "--server-id 255" "--noise-ns 4e8 --seed $RANDOM"
              "--bad 1:100000" "--variance 1e9" "--offset-ms 999" "--offset-ms -3000 --noise-ns 1e6"
              "--leap 1000" "--rate 3" "--variance 0 --noise-ns 1e9")
  local s
  while [ ! -e "$stop_flag" ]; do
    s=${sets[RANDOM % ${#sets[@]}]}
    # shellcheck disable=SC2086
    "$tools/utctime-source" --config "$conn" --rate "$rate" --count $((20 + RANDOM % 60)) --quiet $s >/dev/null 2>&1 || true
    echo "$s" >>"$tmp/hostile-sources.txt"
    sleep 0.$((RANDOM % 10))
  done
}
# The panel: commands that must be answered, as they must.
good_commands() {
  local words=(ping live ping simulation) w i=0 began rc
  while [ ! -e "$stop_flag" ]; do
    w=${words[i++ % ${#words[@]}]}
    began=$(( $(now) - t0 ))
    # In the background, so that the end of the run can stop the one in
    # flight (SIGTERM) rather than wait for its time-out.
    "$tools/chronavel-cmd" --config "$conn" --timeout 10 "$w" >"$tmp/reply" 2>&1 &
    echo $! >"$tmp/command.pid"
    rc=0; wait $! || rc=$?
    rm -f "$tmp/command.pid"
    if [ $rc -eq 0 ]; then
      echo "$began $(( $(now) - t0 )) ok $w $(<"$tmp/reply")" >>"$tmp/commands.log"
    else
      echo "$began $(( $(now) - t0 )) FAILED $w: $(<"$tmp/reply")" >>"$tmp/commands.log"
    fi
  done
}
# Texts that must not be answered: near misses, a reply as a command, case,
# blanks, control and invalid UTF-8 bytes, shell syntax, the longest text
# the type carries (255) and one far longer, which the tool cannot send;
# and now and then a ping killed before it ends (a participant gone without
# a goodbye).
hostile_commands() {
  local pwned="$tmp/pwned" longest long
  longest=$(printf 'Z%.0s' {1..255}) long=$(printf 'Z%.0s' {1..100000})
  local words=("bitserver_ping" "BITSERVER_PING " " BITSERVER_PING" "BITSERVER_PIN" "BITSERVER_PINGG"
               "SYSTEM_MODE_SELECT_LIV" "SYSTEM_MODE_SELECT_SIMULATION_PASS" "START_ZEROIZ" "START_ZEROIZE_"
               "start_destroy" $'START_DESTROY\n' $'BITSERVER_PING\r' $'\x01\x02\x7f' $'\xff\xfe\xc3' "BITSERVER_PİNG"
               "\$(touch $pwned)" "\`touch $pwned\`; touch $pwned" "$longest" "$long")
  local w i=0 reply
  while [ ! -e "$stop_flag" ]; do
    if (( i++ % 4 == 3 )); then
      { timeout -s KILL "0.$((1 + RANDOM % 7))" "$tools/chronavel-cmd" --config "$conn" ping >/dev/null 2>&1 || true; } 2>/dev/null
      echo "$(( $(now) - t0 )) killed ping" >>"$tmp/hostile-commands.log"
      continue
    fi
    w=${words[RANDOM % ${#words[@]}]}
    if reply=$("$tools/chronavel-cmd" --config "$conn" --timeout 3 -- "$w" 2>&1); then
      echo "$(( $(now) - t0 )) ANSWERED ${w:0:40}: $reply" >>"$tmp/hostile-commands.log"
    elif [[ $reply == *"no reply to"* ]]; then
      echo "$(( $(now) - t0 )) unanswered ${#w} bytes" >>"$tmp/hostile-commands.log"
    else
      echo "$(( $(now) - t0 )) undelivered ${w:0:40}: ${reply:0:200}" >>"$tmp/hostile-commands.log"
    fi
  done
}
hostile_sources & loops+=($!) started+=($!)
good_commands & loops+=($!) started+=($!)
hostile_commands & loops+=($!) started+=($!)

# Once a second: the server's resident memory, threads, descriptors and NTP
# segments, and the NTP samples it has fed so far.
echo "t_s,rss_kib,threads,fds,ntp_segments,ntp_samples" >"$csv"
t_term=$(( duration * 1000 - RANDOM % 5000 ))
t_kill=$(( duration * 500 + RANDOM % 5000 ))
t_restart=-1 sampled=-1 fed=0
printf '%8s %10s %8s %5s %9s %12s\n' "t (s)" "RSS (KiB)" threads fds segments "NTP samples"
while :; do
  t=$(( $(now) - t0 ))
  if ! kill -0 "$sim" 2>/dev/null; then violation "chronavel-sim ended by itself at $((t / 1000)) s"; break; fi
  (( t < t_term )) || break
  if (( t_restart < 0 && t >= t_kill )); then
    # The receiver dies without a goodbye and comes back two seconds later.
    note_shm "${pid[utctime-source]}"
    kill -KILL "${pid[utctime-source]}"; wait "${pid[utctime-source]}" 2>/dev/null || true
    unset "pid[utctime-source]"
    echo "  $((t / 1000)) s: utctime-source killed (SIGKILL); a new one in 2 s"
    t_restart=$(( t + 2000 ))
  fi
  if [ -z "${pid[utctime-source]:-}" ] && (( t_restart >= 0 && t >= t_restart )); then start_source; fi
  s=$(( t / 1000 ))
  if (( s > sampled )); then
    sampled=$s
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$sim/status" 2>/dev/null || true)
    threads=$(awk '/^Threads:/ { print $2 }' "/proc/$sim/status" 2>/dev/null || true)
    fds=$(find "/proc/$sim/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)
    segments=$(ntp_segments)
    # The filter rewrites the count in place: an empty read keeps the last.
    now_fed=""; read -r now_fed _ <"$fed_file" 2>/dev/null || true
    fed=${now_fed:-$fed}
    echo "$s,${rss:-0},${threads:-0},$fds,$segments,$fed" >>"$csv"
    (( s % 30 != 0 )) || printf '%8d %10d %8d %5d %9d %12d\n' "$s" "${rss:-0}" "${threads:-0}" "$fds" "$segments" "$fed"
    (( s % 10 != 0 )) || note_shm "$sim"
  fi
  sleep 0.2
done

# SIGTERM while the traffic goes on.
t=$(( $(now) - t0 ))
fed_at_term=$fed
note_shm "$sim"; note_shm "${pid[utctime-source]:-}"; note_shm "${pid[eventlog-monitor]:-}"
echo "  $((t / 1000)).$((t % 1000 / 100)) s: SIGTERM to chronavel-sim"
kill -TERM "$sim" 2>/dev/null || true
for ((i = 0; i < 150; i++)); do kill -0 "$sim" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$sim" 2>/dev/null; then
  violation "chronavel-sim did not end within 15 s of SIGTERM: killed"
  kill -KILL "$sim" 2>/dev/null || true
fi
sim_status=0; wait "$sim" 2>/dev/null || sim_status=$?
unset "pid[chronavel-sim]"
echo "  chronavel-sim exited with status $sim_status after $(( $(now) - t0 - t )) ms"
touch "$stop_flag"
[ ! -e "$tmp/command.pid" ] || kill -TERM "$(<"$tmp/command.pid")" 2>/dev/null || true
for p in "${loops[@]}"; do wait "$p" 2>/dev/null || true; done
loops=()
stop utctime-source; stop eventlog-monitor
for ((i = 0; i < 50; i++)); do kill -0 "${pid[filter]}" 2>/dev/null || break; sleep 0.1; done
stop filter

# ---- verdicts ----
[ "$sim_status" -eq 0 ] || violation "chronavel-sim exit status $sim_status"
grep -q '^!!!!!! .* has exited. Signal: 15$' "$sim_log" || violation "no exit line for signal 15 in the simulator's log"
! grep -q -e 'An exception occurred' -e 'Unknown c++ exception' "$sim_log" ||
  violation "a callback threw: $(grep -m1 -e 'An exception occurred' -e 'Unknown c++ exception' "$sim_log")"
grep -q '^sim: \$ pmc ' "$sim_log" || violation "the discipline never reached its last step"
! grep -q -e '^sim: \$ /etc/init.d/S49ntp stop' -e '^sim: \$ kill ' "$sim_log" ||
  violation "a command that was no zeroize or destroy stopped the daemons"

# Bounds after the warm-up, on the samples from then on.
bounds=$(awk -F, -v w="$warmup" -v bound="$rss_bound" '
  NR == 1 || $1 < w { next }
  n++ == 0 { rss0 = $2; th0 = $3; fd0 = $4; seg0 = $5; rssmax = $2; t0 = $1 }
  { if ($2 > rssmax) { rssmax = $2; tmax = $1 }
    if ($3 != th0 && !th) th = "threads " th0 " -> " $3 " at " $1 " s"
    if ($4 != fd0 && !fd) fd = "descriptors " fd0 " -> " $4 " at " $1 " s"
    if ($5 != seg0 && !seg) seg = "NTP segments " seg0 " -> " $5 " at " $1 " s"
    last = $2; tl = $1 }
  END {
    if (n < 10) { print "FAIL only " n " samples after the warm-up"; exit }
    printf "INFO resident memory %d KiB at %d s, at most %d KiB (+%d) at %d s, %d KiB (%+d) at the end\n",
      rss0, t0, rssmax, rssmax - rss0, tmax, last, last - rss0
    if (rssmax - rss0 > bound) printf "FAIL resident memory grew by %d KiB after the warm-up (bound %d KiB)\n", rssmax - rss0, bound
    if (th) print "FAIL " th; if (fd) print "FAIL " fd; if (seg) print "FAIL " seg
    if (seg0 < 1) print "FAIL no NTP segment while running"
  }' "$csv")
while IFS= read -r line; do
  case "$line" in FAIL\ *) violation "${line#FAIL }" ;; INFO\ *) rss_line=${line#INFO } ;; esac
done <<<"$bounds"

# The feed went on until the end.
fed_before=$(awk -F, -v t=$(( t_term / 1000 - 10 )) 'NR > 1 && $1 <= t { f = $6 } END { print f + 0 }' "$csv")
(( fed_at_term > ${fed_before:-0} )) || violation "no NTP sample in the last 10 s before SIGTERM"
read -r fed stale <"$fed_file" || true

# Commands.
# Commands: those that ended before SIGTERM are judged.
judged="$tmp/commands-judged.txt"
awk -v t="$t_term" '$2 < t' "$tmp/commands.log" >"$judged"
good_ok=$(grep -c ' ok ' "$judged" || true)
good_bad=$(grep -c ' FAILED ' "$judged" || true)
wrong=$(awk '$3 == "ok" && !(($4 == "ping" && $5 == "Chronavel") || ($4 == "live" && $5 == "SYSTEM_MODE_SELECT_LIVE_PASS") ||
             ($4 == "simulation" && $5 == "SYSTEM_MODE_SELECT_SIMULATION_PASS"))' "$judged" | head -n 3)
(( good_bad == 0 )) || violation "$good_bad commands unanswered, the first: $(grep -m1 ' FAILED ' "$judged")"
[ -z "$wrong" ] || violation "wrong replies: $wrong"
last_ok=$(awk '$3 == "ok" { t = $2 } END { print t + 0 }' "$judged")
(( last_ok >= t_term - 30000 )) || violation "no command answered in the last 30 s before SIGTERM"
answered=$(grep -c ' ANSWERED ' "$tmp/hostile-commands.log" || true)
(( answered == 0 )) || violation "hostile texts answered: $(grep -m1 ' ANSWERED ' "$tmp/hostile-commands.log")"
[ ! -e "$tmp/pwned" ] || violation "a command text reached a shell"

# What is left: processes, the simulator's directory, NTP segments, the IPC
# namespace, files of /dev/shm.
sim_dir=$(sed -n 's|^sim: FPGA register image \(/tmp/chronavel-sim-[^/]*\)/.*|\1|p' "$sim_log")
[ -z "$sim_dir" ] || [ ! -e "$sim_dir" ] || violation "$sim_dir is still there"
if $private; then
  left=$(nsenter -t "$holder" -i ipcs -m | awk 'tolower($1) ~ /^0x4e54503[0-7]$/ { print $1 }' | xargs)
  [ -z "$left" ] || violation "NTP segments left in the simulator's IPC namespace: $left"
  stop holder
  for f in /proc/[0-9]*/ns/ipc; do
    [ "$(readlink "$f" 2>/dev/null)" != "$ns" ] || violation "the simulator's IPC namespace $ns lives on in ${f%/ns/ipc}"
  done
else
  left=$(ipcs -m -p | awk -v p="$sim" '$3 == p { print $1 }' | xargs)
  [ -z "$left" ] || violation "shared memory made by the simulator is left: ids $left"
  after=$(ipcs -m | awk 'tolower($1) ~ /^0x4e54503[0-7]$/ { n++ } END { print n + 0 }')
  (( after <= segments_before )) || violation "NTP segments: $segments_before before, $after after"
fi
for p in "${started[@]}"; do ! kill -0 "$p" 2>/dev/null || violation "process $p is still there"; done
mapfile -t shm_used < <(printf '%s\n' "${shm_used[@]}" | sort -u | sed '/^$/d')
for f in "${shm_used[@]}"; do [ ! -e "$f" ] || violation "$f is still there"; done

# The curve: about twenty rows of the samples.
echo
echo "Resident memory, threads, descriptors, NTP segments and samples of chronavel-sim (every sample: soak.csv)"
awk -F, -v step=$(( duration / 20 > 5 ? duration / 20 : 5 )) -v w="$warmup" '
  NR == 1 { printf "  %6s %10s %8s %5s %9s %12s\n", "t (s)", "RSS (KiB)", "threads", "fds", "segments", "NTP samples"; next }
  $1 % step == 0 || $1 == w || $1 == 1 { printf "  %6d %10d %8d %5d %9d %12d%s\n", $1, $2, $3, $4, $5, $6, $1 == w ? "  <- end of the warm-up" : "" }' "$csv"
echo
echo "Summary"
row() { printf '  %-18s %s\n' "$1" "$2"; }
row "run" "$(( t_term / 1000 )) s to SIGTERM at ${rate}x; receiver killed and restarted at $(( t_kill / 1000 )) s; seed $seed"
row "exit" "status $sim_status; $(grep -m1 '^!!!!!! ' "$sim_log" || echo "no exit line")"
row "memory" "${rss_line:-no samples}"
row "NTP feed" "${fed:-0} samples, ${stale:-0} messages without a fresh PPS edge (duplicates of hostile sources)"
row "commands" "$good_ok answered as they must, $good_bad not; hostile: $(grep -c ' unanswered ' "$tmp/hostile-commands.log" || true) unanswered, $answered answered, $(grep -c ' undelivered ' "$tmp/hostile-commands.log" || true) undelivered, $(grep -c ' killed ' "$tmp/hostile-commands.log" || true) pings killed"
row "hostile sources" "$(wc -l <"$tmp/hostile-sources.txt" 2>/dev/null || echo 0) runs"
row "events" "$(wc -l <"$tmp/events.jsonl") received, $(grep -c '"type":"FAULT"' "$tmp/events.jsonl" || true) faults"
row "leftovers" "checked ${#started[@]} processes, the simulator's directory, NTP segments$($private && echo " and IPC namespace"), ${#shm_used[@]} files of /dev/shm"
row "logs" "$out"
if [ ${#violations[@]} -eq 0 ]; then
  echo "soak PASSED"
  exit 0
fi
echo "soak FAILED: ${#violations[@]} violation(s):"
printf '  - %s\n' "${violations[@]}"
exit 1
