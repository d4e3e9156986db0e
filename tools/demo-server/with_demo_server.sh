#!/usr/bin/env bash
# Runs a command with the demo schedule server behind it: starts the server on a free port of
# 127.0.0.1, points PELNAVI_PACKAGE_URL and PELNAVI_PROBE_URL at it, runs the command in the
# foreground and stops the server when the command ends. The server also stops by itself
# within a second if this script is killed.
#
# usage: with_demo_server.sh [--seed DATA_DIR] [--quiet] [--] COMMAND [ARGS...]
#   --seed DATA_DIR  when DATA_DIR holds none of the class folders yet, fill it with the sample
#                    listings first, so that a first start shows channels without an update
#   --quiet          do not log the server's requests
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
seed=""
quiet=()

usage() {
    echo "usage: $(basename "$0") [--seed DATA_DIR] [--quiet] [--] COMMAND [ARGS...]" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
        --seed) [ $# -ge 2 ] || usage; seed=$2; shift 2 ;;
        --quiet) quiet=(--quiet); shift ;;
        --) shift; break ;;
        -*) usage ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || usage

state=$(mktemp -d "${TMPDIR:-/tmp}/pelnavi-demo.XXXXXX") || exit 1
server_pid=""

stop_server() {
    if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
        kill -TERM "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$state"
}
trap stop_server EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

python3 "$here/demo_server.py" --port 0 --ready-file "$state/port" --parent-pid $$ "${quiet[@]}" &
server_pid=$!

# The server writes its port once it listens; give it ten seconds.
for _ in $(seq 100); do
    [ -s "$state/port" ] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
        echo "with_demo_server: the demo server did not start" >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -s "$state/port" ]; then
    echo "with_demo_server: the demo server did not report its port within 10 s" >&2
    exit 1
fi
port=$(cat "$state/port")

export PELNAVI_PACKAGE_URL="http://127.0.0.1:$port/download/showtime.zip"
export PELNAVI_PROBE_URL="http://127.0.0.1:$port/"
echo "with_demo_server: PELNAVI_PACKAGE_URL=$PELNAVI_PACKAGE_URL" >&2

if [ -n "$seed" ]; then
    seeded=no
    for folder in 央视频道 地方频道 数字频道 境外频道; do
        [ -d "$seed/$folder" ] && seeded=yes
    done
    if [ "$seeded" = no ]; then
        mkdir -p "$seed" && python3 "$here/make_package.py" --unpacked "$seed" || exit 1
    fi
fi

"$@"
