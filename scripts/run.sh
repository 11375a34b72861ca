#!/usr/bin/env bash
# Runs the whole lane on this machine: installs what is missing, builds, starts a
# broker on a free loopback port, the simulators of every outside party (card
# devices, system services, GPIO board, cameras, back office) and the application
# on a local configuration. Without a display it runs under Xvfb and writes a
# screenshot. Ctrl-C stops everything.
#
#   scripts/run.sh                 # run until Ctrl-C
#   LANE_RUN_SECONDS=20 scripts/run.sh   # stop by itself after 20 s
#
# The state of the run (configuration, logs, screenshot, GPIO files, time services and their
# time-sync configuration) is in
# $LANE_RUN_DIR (default /tmp/lane-run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh
# The test script's normal build: configured alike, it shares the folder; only what the run needs is built.
[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "${LANE_JOBS:-$(nproc)}" --target laneterminal devicesim servicesim bosim camerasim screenshot

run=${LANE_RUN_DIR:-/tmp/lane-run}
mkdir -p "$run"
# Registers anew (the screenshot waits for that), with certificates made for this run only.
rm -rf "$run"/terminal.db* "$run/gui.conf" "$run/certs" "$run/bosim.log" "$run/config"
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[$i]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
mqtt_port=${LANE_MQTT_PORT:-$(free_port)}
bo_port=$(free_port)

cat > "$run/mosquitto.conf" <<CONF
listener $mqtt_port 127.0.0.1
allow_anonymous true
persistence false
log_dest stderr
set_tcp_nodelay true
CONF
[ "$(id -u)" -eq 0 ] && echo "user root" >> "$run/mosquitto.conf"
mosquitto -c "$run/mosquitto.conf" 2> "$run/mosquitto.log" &
pids+=($!)
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$mqtt_port") 2>/dev/null && break
    sleep 0.1
done

tools=$root/build/tools
"$tools/devicesim/devicesim" --host 127.0.0.1 --port "$mqtt_port" --model RTA27408 > "$run/devicesim.log" 2>&1 &
pids+=($!)
"$tools/servicesim/servicesim" --host 127.0.0.1 --port "$mqtt_port" > "$run/servicesim.log" 2>&1 &
pids+=($!)
"$tools/bosim/bosim" --port "$bo_port" --certs "$run/certs" --generate --journal "$run/bosim.jsonl" \
    > "$run/bosim.log" 2>&1 &
pids+=($!)
# Cameras answer triggers on port 80 of 127.0.0.11-14 and push to the lane's listener on port 8000.
"$tools/camerasim/camerasim" --push-to 127.0.0.1:8000 > "$run/camerasim.log" 2>&1 &
pids+=($!)

export LANE_GPIO_SIM=$run/gpio
# The clock talks to stand-ins for the machine's time services, with their state in the run folder,
# and edits the time-sync configuration there (time/timesyncd.conf), not the machine's.
export PATH=$root/tools/timesim:$PATH LANE_TIME_DIR=$run/time
mkdir -p "$LANE_GPIO_SIM"
"$root/tools/gpiosim/gpiosim" init

# The back office makes its certificates first, then listens and says so.
for _ in $(seq 300); do grep -q "Back-office simulator at" "$run/bosim.log" 2>/dev/null && break; sleep 0.1; done

# Owner-only from the start: it holds the PIN and the camera passwords. The update service has no
# built-in topic root: the configuration names the simulator's.
conf=$(< scripts/run-gui.conf)
conf=${conf//@MQTT_PORT@/$mqtt_port}
conf=${conf//@BO_PORT@/$bo_port}
conf=${conf//@RUN@/"$run"}
(umask 077; printf '%s\n' "$conf" > "$run/gui.conf")

if [ -z "${DISPLAY:-}" ]; then
    exec 5> "$run/xvfb.display"
    Xvfb -displayfd 5 -screen 0 1024x600x24 -nolisten tcp > "$run/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$run/xvfb.display" ] && break; sleep 0.1; done
    export DISPLAY=:$(cat "$run/xvfb.display")
    headless=1
fi

cat <<TEXT
Lane running: broker 127.0.0.1:$mqtt_port, back office https://127.0.0.1:$bo_port, logs in $run
Drive one passage from another shell:
  export LANE_GPIO_SIM=$run/gpio
  $root/tools/gpiosim/gpiosim arrive      # a vehicle on the loop: the cameras are triggered
  $root/tools/gpiosim/gpiosim click       # the driver presses the button: a card is written and ejected
  mosquitto_pub -p $mqtt_port -t devicesim/take/request/1 -m '{}'   # the driver takes the card
  $root/tools/gpiosim/gpiosim leave       # the vehicle drives off
Watch the UI's service: mosquitto_sub -p $mqtt_port -t 'zent/ui/#' -v
Have the update service offer a version (Update page, check):
  mosquitto_pub -p $mqtt_port -t servicesim/update/request/1 -m '{"available":"1.1.0"}'
TEXT

: > "$run/laneterminal.log" # exists before tail follows it
# Its API key (user settings) stays in the run folder too.
(cd "$run" && QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$run/config" exec "$root/build/laneterminal" -f "$run/gui.conf") > "$run/laneterminal.log" 2>&1 &
app=$!
pids+=($app)
tail -n +1 -f --pid="$app" "$run/laneterminal.log" &
pids+=($!)

if [ -n "${headless:-}" ]; then
    # The resting screen comes once the devices are up and the back office registered
    # the terminal (its first tick runs 30 s after start).
    for _ in $(seq 600); do grep -q "TERMINAL REGISTERED" "$run/laneterminal.log" 2>/dev/null && break; sleep 0.1; done
    for _ in $(seq 100); do
        last=$(grep -o "Setting screen : [A-Za-z]*" "$run/laneterminal.log" 2>/dev/null | tail -n 1 || true)
        case "$last" in *DispenseScreen | *CollectScreen) break ;; esac
        sleep 0.1
    done
    sleep 1
    "$tools/screenshot/screenshot" "$run/screenshot.png" && echo "Screenshot: $run/screenshot.png"
fi

if [ -n "${LANE_RUN_SECONDS:-}" ]; then
    sleep "$LANE_RUN_SECONDS"
else
    wait "$app"
fi
