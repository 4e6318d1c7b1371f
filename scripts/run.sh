#!/usr/bin/env bash
# The demo: installs what is missing, builds the simulator and the operator
# tools, then runs the server on a simulated board fed by a simulated GNSS
# receiver and tells the clock discipline as it unfolds. The picture and the
# logs of the run go to $BUILD_DIR/demo. (On a board: chronavel <config>.)
#   BUILD_DIR  build directory (default: build)
#   CHRONAVEL_BIN         run the installed programs of this directory instead
#                         (nothing is installed or built; see README, Install)
#   CHRONAVEL_CONFIG_DIR  the configuration to start from (default: config/)
#   --chronyd  a private chronyd -x reads the NTP feed (runs at rate 1, ~1 min)
#   --secure   DDS Security on a throw-away demonstration PKI: only certified
#              participants with a grant reach the server; an uncertified
#              console's zeroize is shown to do nothing
set -euo pipefail
export LC_ALL=C
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$root/build}"
out="$build_dir/demo"
chronyd=false secure=false
for arg in "$@"; do
  case "$arg" in
    --chronyd) chronyd=true ;;
    --secure) secure=true ;;
    *) echo "usage: scripts/run.sh [--chronyd] [--secure]" >&2; exit 1 ;;
  esac
done

# Four simulated seconds a real second run the schedule in about 15 s; chronyd
# runs on the host's own time, so with it the simulation cannot go faster.
rate=4; $chronyd && rate=1
clock_error=2.5
settle=3                  # PARAM_9: aligned messages to exceed before the step
count=60                  # 4 to settle, steps 0 to 47, and a margin
shift_at=40 shift_ms=1.5  # a drift of the source after the clock was stepped
limit=$((8 + 20 / rate))  # seconds per milestone; the longest gap is 16 messages

now() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }  # ms
t_start=$(now)
if [ -n "${CHRONAVEL_BIN:-}" ]; then
  sim_bin="$CHRONAVEL_BIN/chronavel-sim" tools="$CHRONAVEL_BIN"
else
  "$root/scripts/install-deps.sh"
  TARGETS="chronavel-sim utctime-source chronavel-cmd eventlog-monitor" "$root/scripts/build.sh"
  sim_bin="$build_dir/src/sim/chronavel-sim" tools="$build_dir/tools"
fi
config="${CHRONAVEL_CONFIG_DIR:-$root/config}"

tmp=$(mktemp -d -t chronavel-demo.XXXXXX)
sim_log="$tmp/simulator.log" events="$tmp/events.jsonl" src_log="$tmp/source.log"
declare -A pid=()
started=() killed=() shm_used=() sim_dirs=()
# Shared memory segments (the NTP ones) that our simulator created.
sim_segments() { ipcs -m -p 2>/dev/null | awk -v p="${started[0]:-none}" '$3 == p { print $1 }'; }

# Waits up to $3 s for process $1 to end by itself, then asks it with SIGTERM
# (the simulator then takes down its board and NTP segments) and kills it
# only if it is still there 10 s later. Sets $status.
stop() {
  local p=${pid[$1]:-} i
  status=0
  [ -n "$p" ] || return 0
  # What it maps from /dev/shm must be gone once it has ended.
  mapfile -t -O "${#shm_used[@]}" shm_used < <(grep -o '/dev/shm/[^ ]*' "/proc/$p/maps" 2>/dev/null | sort -u)
  for ((i = 0; i < $2 * 10; i++)); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  kill -TERM "$p" 2>/dev/null || true
  for ((i = 0; i < 100; i++)); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$p" 2>/dev/null; then
    echo "$1 did not end on SIGTERM within 10 s: killed" >&2
    kill -KILL "$p" 2>/dev/null || true; killed+=("$1")
  fi
  wait "$p" 2>/dev/null || status=$?
  unset "pid[$1]"
}

# Idempotent: run at the end, and on failure or Ctrl-C.
cleanup() {
  stop utctime-source 0; stop chronavel-sim 0; stop eventlog-monitor 0
  [ -d "$tmp" ] || return 0
  mapfile -t sim_dirs < <(sed -n -e 's|^sim: FPGA register image \(/tmp/chronavel-sim-[^/]*\)/.*|\1|p' \
    -e 's|^sim: chronyd started .*its logs: \(/tmp/chronavel-sim-chrony-.*\)$|\1|p' "$sim_log")
  if [[ " ${killed[*]} " == *" chronavel-sim "* ]]; then  # it could not tidy up itself
    local chronyd_pid
    chronyd_pid=$(sed -n 's|^sim: chronyd started (pid \([0-9]*\)).*|\1|p' "$sim_log")
    [ -z "$chronyd_pid" ] || kill -TERM "$chronyd_pid" 2>/dev/null || true
    rm -rf "${sim_dirs[@]}"
    for id in $(sim_segments); do ipcrm -m "$id" 2>/dev/null || true; done
  fi
  mkdir -p "$out"; cp "$tmp"/* "$out"/ 2>/dev/null || true
  rm -rf "$tmp"
}
on_exit() { local rc=$?; trap '' INT TERM; cleanup; exit "$rc"; }
trap on_exit EXIT
trap 'echo " interrupted: stopping" >&2; exit 130' INT
trap 'exit 143' TERM

first_fault() { sed -n '/"type":"FAULT"/ { s/.*"text":"\(.*\)"}$/\1/p; q; }' "$events"; }
fail() {
  echo "demo FAILED: $*" >&2
  [ ! -s "$events" ] || [ -z "$(first_fault)" ] || echo "first fault event: $(first_fault)" >&2
  echo "last lines of the simulator:" >&2; tail -n 5 "$sim_log" 2>/dev/null | sed 's/^/  /' >&2 || true
  echo "the run's logs: $out" >&2
  exit 1
}

# One line of the narrative: elapsed time, message and step, what happened.
say() {
  local t=$(( $(now) - t0 ))
  printf '%5d.%d s  %-15s %s\n' $((t / 1000)) $((t % 1000 / 100)) "$1" "$2"
}

# Waits for the first line of file $2 holding the text $3; sets $line.
await() {
  local deadline=$(( $(now) + limit * 1000 ))
  until line=$(grep -m1 -F -- "$3" "$2" 2>/dev/null); do
    kill -0 "${pid[chronavel-sim]}" 2>/dev/null || fail "chronavel-sim ended before: $1"
    (( $(now) < deadline )) || fail "no $1 within $limit s (no \"$3\" in $(basename "$2"))"
    sleep 0.1
  done
}

# A step of the schedule, named in the simulator's log; sets $tag to its
# message (counted as the server received them) and step numbers.
step() {
  await "step $1 ($2)" "$sim_log" "sim: step $1 $2"
  local m; m=$(awk -v t="sim: step $1 $2" '/cbUTCTime : Processing UTC Time/ { n++ } index($0, t) { print n; exit }' "$sim_log")
  tag=$(printf 'msg %2d step %2d' "$m" "$1")
}

# The last line before the step's own that holds the text $1; sets $line.
# A daemon command that failed fails the demo.
detail() {
  line=$(awk -v t="$1" -v s="sim: step $2 " 'index($0, s) == 1 { exit } index($0, t) { l = $0 } END { print l }' "$sim_log")
  [ -n "$line" ] || fail "step $2: no \"$1\" in $(basename "$sim_log")"
  [[ $line != *'-> exit '* || $line == *'-> exit 0'* ]] || fail "step $2 failed: $line"
}

ntp_offset() { awk '{ split($4, r, "."); split($6, c, "."); printf "%+.3f", ((r[1] - c[1]) * 1e9 + r[2] - c[2]) / 1000 }'; }

# A private configuration: the example set with its own DDS domain on
# loopback UDP, absolute file names, a short settling and every echo on.
set_param() {  # file tag value
  grep -q "<$2>[^<]*</$2>" "$1" || fail "no <$2> in $1"
  sed -i "s|<$2>[^<]*</$2>|<$2>$3</$2>|" "$1"
}
domain=$((100 + $$ % 100))
top="$tmp/Chronavel.xml" conn="$tmp/Connections.xml"
cp "$config/Chronavel.xml" "$top"; cp "$config/Connections.xml" "$conn"
for p in "Connections=$conn" "IODevices=$config/IODevices.xml" Debug=TRUE PARAM_1=FALSE "PARAM_9=$settle"; do
  set_param "$top" "${p%%=*}" "${p#*=}"
done
# Back-fill: a monitor that joins late still gets the start-up events.
for p in "DomainId=$domain" UseTransport=UDP BackFillHistory=TRUE; do set_param "$conn" "${p%%=*}" "${p#*=}"; done
# Secured: each participant has its own identity in a copy of the file.
declare -A conn_of=([server]="$conn" [console]="$conn" [source]="$conn" [monitor]="$conn")
if $secure; then
  "$root/config/security/make-demo-pki.sh" "$tmp/pki" >/dev/null || fail "no demonstration PKI"
  for id in server console source monitor; do
    conn_of[$id]="$tmp/Connections-$id.xml"
    files=(IdentityCA=ca.pem IdentityCertificate="$id.pem" PrivateKey="$id.key" PermissionsCA=ca.pem
           Governance=governance.p7s Permissions=permissions.p7s)
    set_xml=""
    for f in "${files[@]}"; do set_xml+="<${f%%=*}>$tmp/pki/${f#*=}</${f%%=*}>"; done
    sed "s|</QV_Configurations>|  <Security><Name>Security</Name><Parameters>$set_xml</Parameters></Security>\n&|" \
      "$conn" >"${conn_of[$id]}"
  done
  set_param "$top" Connections "${conn_of[server]}"
fi
rm -f "$out"/*

echo
echo "Chronavel demo: the time server on a simulated board at ${rate}x real time, its system"
echo "clock $clock_error s off at the start; DDS domain $domain over UDP on loopback."
$secure && echo "DDS Security on: the server, console, time source and monitor hold certificates of a
demonstration CA made for this run (never for a board), with their grants."
sim_args=(--rate "$rate" --clock-error "$clock_error"); $chronyd && sim_args+=(--chronyd)
# As root the simulator keeps its NTP shared memory to itself (and its
# chronyd); otherwise the segments are the host's and whoever has them
# attached reads our samples.
if [ "$(id -u)" -eq 0 ]; then
  sim_args+=(--private-ipc)
elif ipcs -m | awk 'tolower($1) ~ /^0x4e54503[0-7]$/ && $6 > 0 { n++ } END { exit !n }'; then
  echo "Note: another process has the host's NTP shared memory attached; it sees this demo's samples."
fi
echo
t0=$(now)
"$sim_bin" "${sim_args[@]}" "$top" >"$sim_log" 2>&1 &
pid[chronavel-sim]=$! started+=($!)
"$tools/eventlog-monitor" --config "${conn_of[monitor]}" --json >"$events" 2>"$tmp/monitor.err" &
pid[eventlog-monitor]=$! started+=($!)
say '' "chronavel-sim and eventlog-monitor started"
await "DDS connection" "$sim_log" "Chronavel - Success all is well with tss"
say '' "server connected to DDS"
await "start event" "$events" "Chronavel started successfully."
say '' "server started"
ping=$("$tools/chronavel-cmd" --config "${conn_of[console]}" --timeout 10 ping) || fail "no reply to the ping"
say '' "ping answered: $ping"

"$tools/utctime-source" --config "${conn_of[source]}" --rate "$rate" --count "$count" --wait-reader 10 \
  --offset-after "$shift_at" --offset-ms-after "$shift_ms" >"$src_log" 2>&1 &
pid[utctime-source]=$! started+=($!)
say '' "utctime-source started: $count messages, UTC +$shift_ms ms from message $shift_at"
await "PPS settling" "$events" "PPS within threshold, for"
say "$(printf 'msg %2d' "$(grep -c 'PPS offset from UTC' "$events")")" \
  "PPS settled: more than $settle aligned messages in a row"
# The schedule as the server runs it, each action told in its own words.
while read -r k name; do
  step "$k" "$name"
  case $name in
    move-clock) detail 'sim: system clock stepped by' "$k"
      say "$tag" "system clock stepped by $(awk '{ print $6 }' <<<"$line") s" ;;
    enable-1pps) say "$tag" "1PPS interrupt enabled" ;;
    start-ntpd) detail 'sim: $ /etc/init.d/S49ntp start' "$k"
      say "$tag" "NTP daemon started (/etc/init.d/S49ntp start)"
      if $chronyd; then
        await "chronyd" "$sim_log" "sim: chronyd started"
        chronyc=${line#*ask it with: }; read -ra chronyc <<<"${chronyc%%;*}"
        say '' "it is a private chronyd; ask it with: ${chronyc[*]}"
      fi ;;
    raise-ntpd-priority) detail 'sim: $ chrt -f -p 33' "$k"
      say "$tag" "NTP daemon's priority raised (chrt -f -p 33)" ;;
    feed-ntp) detail 'NTP: ntpshm_put' "$k"
      say "$tag" "NTP fed, first sample: real - clock = $(ntp_offset <<<"$line") µs" ;;
    set-phc) detail 'sim: PHC set to' "$k"
      say "$tag" "PHC set to TAI,${line##*,}" ;;
    enable-pps-slave) say "$tag" "PPS slave and PTP clock enabled" ;;
    start-ptp4l) detail 'sim: $ ptp4l -f' "$k"
      say "$tag" "PTP daemon started (ptp4l)" ;;
    announce-grandmaster) detail 'sim: $ pmc -u -b 0' "$k"
      say "$tag" "grandmaster settings sent (pmc set GRANDMASTER_SETTINGS_NP)" ;;
    *) say "$tag" "$name" ;;
  esac
done < <("$sim_bin" --schedule)
if $chronyd; then
  say '' "chronyd's sources now:"
  timeout 5 "${chronyc[@]}" 2>&1 | sed 's/^/           /' || true
fi

# An uncertified console finds no peer: nothing is stopped, nothing answers.
if $secure; then
  if "$tools/chronavel-cmd" --config "$conn" --timeout 3 zeroize >"$tmp/uncertified.log" 2>&1; then
    fail "the uncertified console's zeroize was delivered"
  fi
  say '' "uncertified console's START_ZEROIZE: $(sed 's/^chronavel-cmd: //' "$tmp/uncertified.log")"
  ! grep -q '^sim: \$ kill' "$sim_log" || fail "a daemon was stopped"
  kill -0 "${pid[chronavel-sim]}" 2>/dev/null || fail "the server has gone"
  again=$("$tools/chronavel-cmd" --config "${conn_of[console]}" --timeout 10 ping) || fail "no reply to the ping"
  say '' "daemons still running; the certified console's ping answered: $again"
fi

# The source ends after its last message; then the server is told to stop.
stop utctime-source "$limit"
stop chronavel-sim 0; sim_status=$status
stop eventlog-monitor 0
signal=$(sed -n 's/^!!!!!! .* has exited. Signal: \([0-9]*\)$/\1/p' "$sim_log")
say '' "all stopped: chronavel-sim exited on signal ${signal:-?} with status $sim_status"

mkdir -p "$out"
svg="$out/chronavel-demo.svg"
awk -v rate="$rate" -v clock_error="$clock_error" -v shift_at="$shift_at" -v shift_ms="$shift_ms" \
  -f "$root/scripts/timeline.awk" "$events" "$sim_log" >"$svg" || fail "no picture"
samples=$(grep 'NTP: ntpshm_put' "$sim_log" || true)
fault=$(first_fault)
summary=(
  "clock step|$(awk '/^sim: system clock stepped by/ { print $6 " s"; exit }' "$sim_log")"
  "UTCTime messages|$(wc -l <"$src_log") sent, $(grep -c 'cbUTCTime : Processing UTC Time' "$sim_log") processed"
  "NTP samples|$(grep -c . <<<"$samples"); real - clock $(head -n1 <<<"$samples" | ntp_offset) µs before the shift, $(tail -n1 <<<"$samples" | ntp_offset) µs after"
  "events|$(wc -l <"$events"), $(grep -c '"type":"FAULT"' "$events" || true) faults"
  "ping reply|$ping"
)
cleanup
trap - EXIT

# What the run may leave: processes, directories, shared memory, DDS files.
left=()
for p in "${started[@]}"; do kill -0 "$p" 2>/dev/null && left+=("process $p"); done
for f in "$tmp" "${sim_dirs[@]}" "${shm_used[@]}"; do [ -e "$f" ] && left+=("$f"); done
for id in $(sim_segments); do left+=("shared memory id $id"); done
t=$(( $(now) - t_start )) d=$(( $(now) - t0 ))
echo
echo "Summary"
row() { printf '  %-17s %s\n' "$1" "$2"; }
row "elapsed" "$((t / 1000)).$((t % 1000 / 100)) s end to end, $((d / 1000)).$((d % 1000 / 100)) s from the simulator's start"
for s in "${summary[@]}"; do row "${s%%|*}" "${s#*|}"; done
row "picture" "$svg"
row "logs" "$out"
row "leftovers" "${left[*]:-none (checked ${#started[@]} processes, $((1 + ${#sim_dirs[@]})) directories, shared memory of the simulator, ${#shm_used[@]} files of /dev/shm)}"
[ -z "$fault" ] || row "first fault" "$fault"
[ ${#left[@]} -eq 0 ] && [ "$sim_status" -eq 0 ] && [ ${#killed[@]} -eq 0 ] && [ -z "$fault" ]
