#!/bin/sh
# Runs the program where the only name server takes every question and never answers, as on a
# network that is down or behind a captive portal, and asks its block page for pages with return
# addresses. Meant for fresh user, mount and network namespaces (unshare -rmn), so nothing of the
# machine is changed: /etc/resolv.conf and /etc/hosts are replaced inside them only.
#
# Usage: offline_block_page.sh PROGRAM FOLDER RULE FROM...
# Prints "silent" once a lookup is seen to hang, then for each FROM one line "answered MS" and the
# page on one line; "failed: ..." when a step could not be done.
set -u
program=$1
folder=$2
rule=$3
shift 3

ip link set lo up || { echo "failed: no loopback"; exit 1; }
printf 'nameserver 127.0.0.53\noptions timeout:30 attempts:1\n' >"$folder/resolv.conf"
printf '127.0.0.1 localhost\n127.0.1.1 box.example\n' >"$folder/hosts"
mount --bind "$folder/resolv.conf" /etc/resolv.conf || { echo "failed: resolv.conf"; exit 1; }
mount --bind "$folder/hosts" /etc/hosts || { echo "failed: hosts"; exit 1; }

# The silent name server: reads every question over UDP and TCP, answers none.
/usr/bin/python3 -c '
import select, socket, sys
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("127.0.0.53", 53))
t = socket.socket(socket.AF_INET, socket.SOCK_STREAM); t.bind(("127.0.0.53", 53)); t.listen(16)
open(sys.argv[1], "w").close()
held = []
while True:
    ready, _, _ = select.select([u, t] + held, [], [])
    for s in ready:
        if s is u: u.recvfrom(4096)
        elif s is t: held.append(t.accept()[0])
        elif not s.recv(4096): held.remove(s)
' "$folder/listening" &
dns=$!
tries=0
until [ -e "$folder/listening" ]; do
    tries=$((tries + 1))
    [ $tries -gt 300 ] && { echo "failed: no name server"; exit 1; }
    sleep 0.1
done
trap 'kill $dns 2>/dev/null; [ -n "${app:-}" ] && kill $app 2>/dev/null; wait' EXIT

timeout 3 getent hosts news.example >/dev/null
[ $? -eq 124 ] || { echo "failed: the name server answered"; exit 1; }
echo silent

mkdir -p "$folder/data" "$folder/home" "$folder/run" && chmod 700 "$folder/run"
QUILLHARBOUR_DATA_DIR="$folder/data" HOME="$folder/home" XDG_CONFIG_HOME="$folder/home/config" \
    XDG_DATA_HOME="$folder/home/share" XDG_RUNTIME_DIR="$folder/run" QT_QPA_PLATFORM=offscreen \
    DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent "$program" >"$folder/out" 2>"$folder/err" &
app=$!

/usr/bin/python3 - "$folder/out" "$rule" "$@" <<'EOF'
import re, socket, sys, time, urllib.parse
out, rule, addresses = sys.argv[1], sys.argv[2], sys.argv[3:]
port = None
deadline = time.monotonic() + 60
while port is None and time.monotonic() < deadline:
    m = re.search(r"block page on http://127\.0\.0\.1:(\d+)/", open(out).read())
    if m: port = int(m.group(1))
    else: time.sleep(0.1)
if port is None:
    print("failed: no block page"); sys.exit(1)
for address in addresses:
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=20)
    s.sendall(("GET /blocked?rule=%s&from=%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n"
               % (rule, urllib.parse.quote(address, safe=""), port)).encode())
    data = b""
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk: break
            data += chunk
    except socket.timeout:
        print("failed: no answer within 20 s"); sys.exit(1)
    print("answered %d" % int((time.monotonic() - start) * 1000))
    print(data.decode("utf-8", "replace").replace("\r", " ").replace("\n", " "))
EOF
