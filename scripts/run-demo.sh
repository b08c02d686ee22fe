#!/usr/bin/env bash
# Shows the updater at work: installs what is missing, builds, publishes a sample release on a
# loopback HTTP server at the host the updater is built for (127.0.0.1:8470 by default), puts an
# old sample Lumen_Courier.exe beside the updater, starts it and opens the updater.
# With a display you use the window yourself; close it to end the demo. Without one, the demo
# runs on a private Xvfb, goes through the check and the update itself and saves screenshots in
# build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target lumen-updater lumen-courier-sample-v1 lumen-courier-sample-v2 \
  publish-release

updater=$root/build/app/lumen-updater
app_dir=$root/build/app
demo=$root/build/demo
host_port=$(sed -n 's/^LUMEN_UPDATE_HOST:[A-Z]*=//p' build/CMakeCache.txt)
host=${host_port%%:*}
port=80
[[ $host_port == *:* ]] && port=${host_port##*:}

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# The release, published the way people who publish updates do it: the new sample zipped as the
# updater expects it and its digest, both checked with the updater's own reader.
rm -rf "$demo"
mkdir -p "$demo/www/quorvale"
build/tools/publish-release build/tests/companion/lumen-courier-sample-v2 "$demo/www/quorvale" >/dev/null
cp build/tests/companion/lumen-courier-sample-v1 "$app_dir/Lumen_Courier.exe"
echo "Installed sample: version $("$app_dir/Lumen_Courier.exe" --version); published: version 2.0"

python3 -m http.server "$port" --bind "$host" --directory "$demo/www" >"$demo/server.log" 2>&1 &
server=$!
pids+=("$server")
for ((i = 0; ; i++)); do
  if ! kill -0 "$server" 2>/dev/null; then
    echo "The release server could not listen on $host:$port (is the port in use?):" >&2
    cat "$demo/server.log" >&2
    exit 1
  fi
  (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null && break
  ((i < 100)) || { echo "The release server did not answer on $host:$port" >&2; exit 1; }
  sleep 0.1
done
echo "Serving http://$host_port/quorvale/update.md5 and Lumen_Courier.zip"

headless=0
if [[ -z ${DISPLAY:-} ]]; then
  headless=1
  rm -f "$demo/display"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>"$demo/display" 2>/dev/null &
  pids+=("$!")
  for ((i = 0; ; i++)); do
    [[ -s $demo/display ]] && break
    ((i < 100)) || { echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
  done
  export DISPLAY=:$(tr -d '\n' <"$demo/display")
  echo "No display: running on Xvfb $DISPLAY"
fi

# The old program runs, as it would on a user's desk; an update asks it to close.
(cd "$app_dir" && exec ./Lumen_Courier.exe) >/dev/null 2>&1 &
pids+=("$!")

if ((headless == 0)); then
  "$updater" || true
  echo "Lumen_Courier.exe beside the updater is now version $("$app_dir/Lumen_Courier.exe" --version)"
  exit 0
fi

# Titles are Cyrillic, so they are read from _NET_WM_NAME, which only UTF-8 aware tools show.
find_window() {
  local id
  for id in $(xdotool search --onlyvisible --classname lumen-updater 2>/dev/null); do
    if LC_ALL=C.UTF-8 xprop -id "$id" _NET_WM_NAME 2>/dev/null | grep -qF "= \"$1\""; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
wait_window() {
  local i id
  for ((i = 0; i < 150; i++)); do
    id=$(find_window "$1") && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "No window titled \"$1\" appeared" >&2
  return 1
}

"$updater" &
updater_pid=$!
pids+=("$updater_pid")
window=$(wait_window "Модуль обновления")
sleep 0.5 # let the first paint finish before the picture is taken
import -window "$window" "$demo/window.png"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 112)) $((Y + 44)) click 1
# The published release differs from the installed one, so the check offers it.
box=$(wait_window "Информация")
sleep 0.5
import -window root "$demo/offer.png"
xdotool windowfocus "$box" key Return # Enter answers Yes, the first button
# The old program still runs, so the updater asks to close it; Yes again.
box=$(wait_window "Внимание")
import -window root "$demo/close-request.png"
xdotool windowfocus "$box" key Return
for ((i = 0; i < 300; i++)); do
  kill -0 "$updater_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$updater_pid" 2>/dev/null; then
  echo "The updater did not finish the update" >&2
  exit 1
fi
sleep 1
import -window root "$demo/after.png"
echo "Updated: Lumen_Courier.exe beside the updater is now version $("$app_dir/Lumen_Courier.exe" --version)"
echo "Screenshots in $demo: window.png, offer.png, close-request.png, after.png"
