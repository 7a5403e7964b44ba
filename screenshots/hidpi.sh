#!/bin/bash
# The 2x set: every screenshot program again, on a private X display at a scale factor of 2, each
# picture taken from the window the X server holds. Usage: hidpi.sh <folder> <program>...
set -u
folder=$1
shift
mkdir -p "$folder"
fd_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 3840x2400x24 -nolisten tcp 3>"$fd_file" 2>/dev/null &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -f "$fd_file"' EXIT
for _ in $(seq 100); do
    [ -s "$fd_file" ] && break
    sleep 0.1
done
display=$(head -n1 "$fd_file")
if [ -z "$display" ]; then
    echo "hidpi.sh: Xvfb did not start; no 2x set" >&2
    exit 0
fi
status=0
for program in "$@"; do
    env DISPLAY=":$display" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2 TZ=America/New_York LANG=en_US.UTF-8 \
        LC_ALL=en_US.UTF-8 NO_AT_BRIDGE=1 "$program" "$folder" --window || status=1
done
exit $status
