#!/usr/bin/env bash
# The SysV init script against a fake root: its paths moved under a
# temporary directory, and a stand-in daemon that prints the server's exit
# line two seconds after SIGTERM. Runs start, status, a second start, stop
# (which must wait for the exit line), status and stop again, each with its
# status and words.
#   init_script.sh SOURCE-DIR
set -euo pipefail
src=$1
fake=$(mktemp -d)
trap 'kill $(cat "$fake/var/run/chronavel.pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$fake"' EXIT
mkdir -p "$fake/usr/sbin" "$fake/etc/init.d" "$fake/etc/default" "$fake/var/run" "$fake/var/log"
sed -e "s|@CHRONAVEL_SBIN@|$fake/usr/sbin|" -e "s|@CHRONAVEL_CONFIG@|$fake/etc/chronavel/Chronavel.xml|" \
    -e "s|\"/var/|\"$fake/var/|" -e "s|/etc/default/|$fake/etc/default/|g" \
    "$src/packaging/chronavel.init.in" >"$fake/etc/init.d/chronavel"
chmod +x "$fake/etc/init.d/chronavel"
echo "STOP_TIMEOUT=10" >"$fake/etc/default/chronavel"

# The exit line the script waits for is the one the server prints.
grep -qF '" has exited. Signal: "' "$src/src/Chronavel/ProcessDriver.h" ||
  { echo "FAIL the server's exit line is no longer \"... has exited. Signal: N\""; exit 1; }
cat >"$fake/usr/sbin/chronavel" <<'DAEMON'
#!/bin/sh
echo "stand-in for chronavel $1"
trap 'sleep 2; echo "!!!!!! $0 has exited. Signal: 15"; exit 0' TERM
while :; do sleep 1 & wait $!; done
DAEMON
chmod +x "$fake/usr/sbin/chronavel"

pidfile="$fake/var/run/chronavel.pid"
log="$fake/var/log/chronavel.log"
instances() { pgrep -cf "$fake/usr/sbin/chronavel" || true; }
fails=0
first_pid="" exits=1
# action | exit status | words of the output
while IFS='|' read -r action want words; do
  t0=$(date +%s%N)
  status=0
  out=$("$fake/etc/init.d/chronavel" "$action" 2>&1) || status=$?
  ms=$(( ($(date +%s%N) - t0) / 1000000 ))
  problem=""
  [ "$status" -eq "$want" ] || problem="status $status, want $want"
  grep -qF -- "$words" <<<"$out" || problem+=" no \"$words\""
  # A stop (also a restart's) of a running daemon waits for its exit line.
  if [[ "$action" =~ ^(stop|restart)$ ]] && [ -n "$first_pid" ]; then
    [ "$ms" -ge 2000 ] || problem+=" returned after $ms ms, before the exit line"
    [ "$(grep -c "has exited. Signal: 15" "$log")" -eq "$exits" ] || problem+=" no new exit line in the log"
    [ ! -e "/proc/$first_pid" ] || problem+=" the daemon still runs"
    exits=$((exits + 1)) first_pid=""
  fi
  [ "$action" != stop ] || [ ! -e "$pidfile" ] || problem+=" the pid file is left"
  # A start (also a restart's) leaves one daemon, the first one started.
  if [[ "$action" =~ ^(start|restart)$ ]]; then
    pid=$(cat "$pidfile" 2>/dev/null || true)
    [ -n "$first_pid" ] || first_pid=$pid
    [ "$pid" = "$first_pid" ] || problem+=" pid changed: $first_pid -> $pid"
    [ "$(instances)" -eq 1 ] || problem+=" $(instances) daemons running"
    grep -qF "stand-in for chronavel $fake/etc/chronavel/Chronavel.xml" "$log" ||
      problem+=" the daemon's output is not in the log"
  fi
  if [ -n "$problem" ]; then
    echo "FAIL $action:$problem; output: $out"; fails=$((fails + 1))
  else
    echo "ok   $action ($ms ms): $out"
  fi
done <<'TABLE'
status|3|chronavel is not running
start|0|Starting chronavel: OK
status|0|chronavel is running (pid
start|0|already running (pid
stop|0|Stopping chronavel: OK
status|3|chronavel is not running
stop|0|Stopping chronavel: not running
start|0|Starting chronavel: OK
restart|0|Stopping chronavel: OK
stop|0|Stopping chronavel: OK
bogus|1|Usage:
TABLE
[ "$fails" -eq 0 ]
