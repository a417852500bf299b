#!/usr/bin/env bash
# Runs inside the demo's private network namespace: nginx on 127.0.0.1:80,
# an X server if there is no display, and the launcher.
set -euo pipefail
launcher=$1
run=$2
ip link set lo up

nginx -c "$run/nginx.conf" &
nginx_pid=$!
xvfb_pid=""
cleanup() {
  kill "$nginx_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# Wait (bounded) for nginx to answer.
for _ in $(seq 1 100); do
  curl -sf -o /dev/null http://127.0.0.1/instalador.php && break
  sleep 0.05
done

headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  Xvfb "$display" -noreset -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
  export DISPLAY=$display
fi

export GLIMMERHOLD_REGISTRY_FILE="$run/Glimmerhold.reg"
rm -f "$run/install/glimmerhold-ran.txt"
"$launcher" &
launcher_pid=$!

if [ "$headless" = 1 ]; then
  # The update is done when the local list names every served file.
  served="$run/www/glimmerhold/version_list.txt"
  for _ in $(seq 1 600); do
    if [ -f "$run/install/version_list.txt" ] && \
       [ "$(sort "$run/install/version_list.txt")" = "$(sort "$served")" ]; then break; fi
    sleep 0.1
  done
  # The launcher's window is the one of the page's size (900 x 560).
  window=""
  for _ in $(seq 1 100); do
    for id in $(xdotool search --onlyvisible --pid "$launcher_pid" 2>/dev/null); do
      if xdotool getwindowgeometry "$id" | grep -q "900x560"; then window=$id; fi
    done
    [ -n "$window" ] && break
    sleep 0.1
  done
  sleep 1  # let the last progress step paint before the picture
  import -window root "$run/screenshot.png"
  echo "Screenshot: $run/screenshot.png"
  if [ -n "$window" ]; then
    # Press Play (bottom right of the 900 x 560 page).
    xdotool mousemove --window "$window" 770 505 click 1
  fi
fi

wait "$launcher_pid" || true
echo "Launcher exited."
for _ in $(seq 1 50); do [ -f "$run/install/glimmerhold-ran.txt" ] && break; sleep 0.1; done
if [ -f "$run/install/glimmerhold-ran.txt" ]; then
  cat "$run/install/glimmerhold-ran.txt"
fi
echo "Installation folder: $run/install"
ls -la "$run/install"
