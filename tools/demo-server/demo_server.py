#!/usr/bin/env python3
"""A schedule server for trying the program out on one machine.

Serves, on 127.0.0.1 by default:
  GET /download/showtime.zip?...   the sample package (any query: the program appends a time stamp)
  GET /epg.xml, GET /epg.xml.gz     the same sample week as an XMLTV document, plain and gzip
  GET /                            a small page; the program's network probe connects here
  anything else                    404 with a small page

HTTP/1.1 with keep-alive and Content-Length on every answer. The package is made at start by
make_package.py (listings from today on) unless --package names a file.

The server ends on SIGTERM, SIGINT or SIGHUP, and by itself within about a second when the
process that started it (or --parent-pid) is gone, so it never outlives the run command.
"""

from __future__ import annotations

import argparse
import datetime as dt
import gzip
import html
import os
import signal
import socket
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_package  # noqa: E402

PACKAGE_PATH = "/download/showtime.zip"
FEED_PATH = "/epg.xml"
FEED_GZIP_PATH = "/epg.xml.gz"
PARENT_POLL_SECONDS = 1.0
# An idle keep-alive connection is closed after this long; the program reconnects when it
# finds the connection closed.
IDLE_CONNECTION_SECONDS = 300

INDEX_PAGE = """<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>演示节目表服务器</title></head>
<body><h1>演示节目表服务器</h1>
<p>节目表数据包：<a href="{path}">{path}</a>（{size} 字节，{about}）</p>
<p>XMLTV：<a href="{feed}">{feed}</a>，<a href="{feed_gzip}">{feed_gzip}</a></p>
</body></html>
"""

NOT_FOUND_PAGE = """<!DOCTYPE html>
<html lang="zh-CN"><head><meta charset="utf-8"><title>404 Not Found</title></head>
<body><h1>404 Not Found</h1><p>{path}</p></body></html>
"""


class DemoHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Answer even a malformed request with a status line rather than a bare HTTP/0.9 page.
    default_request_version = "HTTP/1.0"
    server_version = "PelnaviDemo/1.0"
    timeout = IDLE_CONNECTION_SECONDS

    # Set on the subclass that make_server() makes.
    package: bytes = b""
    feed: bytes = b""
    feed_gzip: bytes = b""
    index_page: bytes = b""
    quiet: bool = False

    def do_GET(self) -> None:
        self._answer(send_body=True)

    def do_HEAD(self) -> None:
        self._answer(send_body=False)

    def _answer(self, send_body: bool) -> None:
        # The program sends the address unencoded and may put a second "?" in the query:
        # only the part before the first "?" names the resource.
        path = self.path.partition("?")[0]
        if path == PACKAGE_PATH:
            self._send(200, "application/zip", self.package, send_body)
        elif path == FEED_PATH:
            self._send(200, "application/xml", self.feed, send_body)
        elif path == FEED_GZIP_PATH:
            self._send(200, "application/gzip", self.feed_gzip, send_body)
        elif path == "/":
            self._send(200, "text/html; charset=utf-8", self.index_page, send_body)
        else:
            page = NOT_FOUND_PAGE.format(path=html.escape(self.path)).encode("utf-8")
            self._send(404, "text/html; charset=utf-8", page, send_body)

    def _send(self, status: int, content_type: str, body: bytes, send_body: bool) -> None:
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def log_message(self, format: str, *args) -> None:  # noqa: A002 (name fixed by the base class)
        if not self.quiet:
            super().log_message(format, *args)


class DemoServer(ThreadingHTTPServer):
    # Connection threads must not keep the process alive once the server is told to stop.
    daemon_threads = True


class DemoServer6(DemoServer):
    address_family = socket.AF_INET6


def make_server(host: str, port: int, package: bytes, quiet: bool, about: str,
                feed: bytes = b"") -> DemoServer:
    """Binds and listens at once; the port is known from server_address when this returns."""
    index = INDEX_PAGE.format(path=PACKAGE_PATH, size=len(package), about=html.escape(about),
                              feed=FEED_PATH, feed_gzip=FEED_GZIP_PATH)
    handler = type("BoundDemoHandler", (DemoHandler,),
                   {"package": package, "index_page": index.encode("utf-8"), "quiet": quiet,
                    "feed": feed, "feed_gzip": gzip.compress(feed, mtime=0)})
    server_class = DemoServer6 if ":" in host else DemoServer
    return server_class((host, port), handler)


class ParentWatch:
    """Tells when the process that the server belongs to has gone."""

    def __init__(self, parent_pid: int | None):
        self._parent_pid = parent_pid
        self._original_ppid = os.getppid()

    def parent_gone(self) -> bool:
        if self._parent_pid is not None:
            return not _process_exists(self._parent_pid)
        # Reparenting (to init or a subreaper) means the parent has ended. A server started
        # by init itself has no parent to watch.
        return self._original_ppid != 1 and os.getppid() != self._original_ppid


def _process_exists(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A process that has ended but not yet been reaped still answers kill(); it is gone all the same.
    return _process_state(pid) not in ("Z", "X")


def _process_state(pid: int) -> str:
    try:
        stat = Path(f"/proc/{pid}/stat").read_text(encoding="ascii", errors="replace")
    except OSError:
        return ""
    # The command name in parentheses may hold blanks; the state follows the last ")".
    return stat[stat.rfind(")") + 2:][:1]


def write_ready_file(path: Path, port: int) -> None:
    # Written whole and then renamed, so a reader never sees a half-written number.
    temporary = path.with_name(path.name + ".part")
    temporary.write_text(f"{port}\n", encoding="ascii")
    os.replace(temporary, path)


def stop_on_signals() -> threading.Event:
    stop = threading.Event()

    def request_stop(_signum, _frame) -> None:
        stop.set()

    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, request_stop)
    return stop


def run(server: DemoServer, watch: ParentWatch, stop: threading.Event) -> None:
    serving = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
    serving.start()
    while not stop.wait(PARENT_POLL_SECONDS):
        if watch.parent_gone():
            break
    server.shutdown()
    server.server_close()


def _parse_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description="Serve the sample schedule package over HTTP.")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default: 127.0.0.1)")
    parser.add_argument("--port", type=int, default=0, help="port; 0 picks a free one (default: 0)")
    parser.add_argument("--package", type=Path, help="serve this Zip file instead of a fresh sample")
    parser.add_argument("--date", type=make_package.parse_date,
                        help="first listing day of the sample, YYYY-MM-DD (default: today)")
    parser.add_argument("--ready-file", type=Path, metavar="PATH",
                        help="write the port number here once the server listens")
    parser.add_argument("--parent-pid", type=int, metavar="PID",
                        help="stop when this process ends (default: the process that started the server)")
    parser.add_argument("--quiet", action="store_true", help="do not log requests")
    args = parser.parse_args(argv)
    if not 0 <= args.port <= 65535:
        parser.error("--port must be between 0 and 65535")
    return args


def main(argv: list[str] | None = None) -> int:
    args = _parse_args(argv)
    stop = stop_on_signals()
    watch = ParentWatch(args.parent_pid)
    first_day = args.date or dt.date.today()
    try:
        if args.package is not None:
            package = args.package.read_bytes()
            about = f"取自 {args.package.name}"
        else:
            package = make_package.build_package(first_day)
            about = f"{len(make_package.CHANNELS)} 个频道，{first_day.isoformat()} 起一周"
        server = make_server(args.host, args.port, package, args.quiet, about,
                             make_package.xmltv_document(first_day))
    except OSError as error:
        print(f"demo_server: {error}", file=sys.stderr)
        return 1
    host, port = server.server_address[:2]
    try:
        if args.ready_file is not None:
            write_ready_file(args.ready_file, port)
    except OSError as error:
        print(f"demo_server: cannot write the ready file: {error}", file=sys.stderr)
        server.server_close()
        return 1
    if not args.quiet:
        print(f"demo_server: serving http://{host}:{port}{PACKAGE_PATH} ({len(package)} bytes)",
              file=sys.stderr, flush=True)
    run(server, watch, stop)
    return 0


if __name__ == "__main__":
    sys.exit(main())
