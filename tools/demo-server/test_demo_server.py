#!/usr/bin/env python3
"""Checks of the sample package and the demo server.

    cd tools/demo-server && python3 -m unittest -v test_demo_server
"""

from __future__ import annotations

import datetime as dt
import gzip
import http.client
import io
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from xml.etree import ElementTree
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import make_package as mp  # noqa: E402

FIRST_DAY = dt.date(2026, 12, 10)   # a Thursday
WAIT_SECONDS = 15                   # generous: the suite may share two cores with sanitizer builds


def central_directory(archive: bytes) -> list[dict]:
    """Reads the central directory straight from the bytes, without zipfile's name handling."""
    end = archive.rindex(b"PK\x05\x06")
    _, _, _, _, count, size, offset, _ = struct.unpack_from("<IHHHHIIH", archive, end)
    entries, position = [], offset
    for _ in range(count):
        fields = struct.unpack_from("<IHHHHHHIIIHHHHHII", archive, position)
        name_length, extra_length, comment_length = fields[10:13]
        start = position + 46
        entries.append({"flags": fields[3], "method": fields[4], "external": fields[15],
                        "local_offset": fields[16], "raw_name": archive[start:start + name_length]})
        position = start + name_length + extra_length + comment_length
    assert position == offset + size
    return entries


def day_blocks(text: str, newline: str) -> list[list[str]]:
    lines = text.split(newline)
    assert lines[-1] == "", "a listing ends with a line break"
    blocks, current = [], None
    for line in lines[1:-1]:
        if line == "":
            current = []
            blocks.append(current)
        else:
            current.append(line)
    return blocks


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.package = mp.build_package(FIRST_DAY)
        cls.entries = central_directory(cls.package)
        cls.names = [e["raw_name"].decode("gbk") for e in cls.entries]

    def test_names_are_gbk_bytes_without_the_utf8_flag(self):
        for entry, name in zip(self.entries, self.names):
            with self.subTest(name=name):
                self.assertEqual(entry["flags"] & 0x800, 0)
                self.assertEqual(entry["raw_name"], name.encode("gbk"))
                with self.assertRaises(UnicodeDecodeError):
                    entry["raw_name"].decode("utf-8")  # every name holds Chinese characters
        expected = {"央视频道/", "地方频道/", "数字频道/", "境外频道/", "央视频道/04(亚洲).txt",
                    "地方频道/anhui安徽卫视.txt", "地方频道/hunan湖南卫视.txt",
                    "地方频道/jiangsu江苏卫视.txt", "地方频道/北京卫视.txt"} | {f"央视频道/{n:02d}.txt" for n in range(1, 16)}
        self.assertLessEqual(expected, set(self.names))
        for folder in mp.CLASS_FOLDERS:
            files = [n for n in self.names if n.startswith(folder + "/") and n.endswith(".txt")]
            self.assertGreaterEqual(len(files), 5, folder)

    def test_archive_is_intact_and_local_names_match_central_ones(self):
        with zipfile.ZipFile(io.BytesIO(self.package)) as archive:
            self.assertIsNone(archive.testzip())
        for entry in self.entries:
            offset = entry["local_offset"]
            flags = struct.unpack_from("<H", self.package, offset + 6)[0]
            length = struct.unpack_from("<H", self.package, offset + 26)[0]
            self.assertEqual(flags, entry["flags"])
            self.assertEqual(self.package[offset + 30:offset + 30 + length], entry["raw_name"])
            is_folder = entry["raw_name"].endswith(b"/")
            self.assertEqual(entry["method"], 0 if is_folder else 8)
            self.assertEqual(entry["external"], 0x10 if is_folder else 0x20)

    @unittest.skipUnless(shutil.which("7z"), "7z not installed")
    def test_7z_reads_every_entry_as_gbk(self):
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder, "showtime.zip")
            path.write_bytes(self.package)
            env = dict(os.environ, LC_ALL="C", LANG="C")
            tested = subprocess.run(["7z", "t", str(path)], capture_output=True, env=env)
            self.assertEqual(tested.returncode, 0, tested.stdout)
            listed = subprocess.run(["7z", "l", "-slt", str(path)], capture_output=True, env=env).stdout
        paths = [line[len(b"Path = "):] for line in listed.splitlines() if line.startswith(b"Path = ")][1:]
        self.assertEqual([p.decode("gbk") for p in paths], [n.rstrip("/") for n in self.names])
        self.assertNotIn(b"UTF8", listed)

    def test_same_day_gives_same_bytes_and_another_day_moves_the_dates(self):
        self.assertEqual(mp.build_package(FIRST_DAY), self.package)
        later = mp.build_package(FIRST_DAY + dt.timedelta(days=1))
        self.assertNotEqual(later, self.package)
        with zipfile.ZipFile(io.BytesIO(later)) as archive:
            text = mp.decode_listing(archive.read("央视频道/01.txt".encode("gbk").decode("cp437")))
        self.assertIn("2026-12-11 星期五", text)
        self.assertNotIn("2026-12-10", text)

    def test_unpacked_files_equal_the_archive_contents(self):
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual(mp.main(["--date", FIRST_DAY.isoformat(), "--unpacked", folder]), 0)
            with zipfile.ZipFile(io.BytesIO(self.package)) as archive:
                for info in archive.infolist():
                    name = info.filename.encode("cp437").decode("gbk")
                    if not info.is_dir():
                        self.assertEqual(Path(folder, name).read_bytes(), archive.read(info), name)
            written = sorted(str(p.relative_to(folder)) for p in Path(folder).rglob("*.txt"))
        self.assertEqual(written, sorted(n for n in self.names if n.endswith(".txt")))


class ListingTest(unittest.TestCase):
    def test_each_encoding_decodes_back_to_the_same_text(self):
        text = "ZORQ-11 戏曲频道 一周节目预告\r\n\r\n2026-12-10 星期四\r\n19:30 空中剧院：京剧：四郎探母\r\n"
        cases = [(mp.GBK, text.encode("gbk")[:4]), (mp.UTF8_BOM, b"\xef\xbb\xbf"),
                 (mp.UTF16LE_BOM, b"\xff\xfe")]
        for encoding, start in cases:
            with self.subTest(encoding=encoding):
                data = mp.encode_listing(text, encoding)
                self.assertTrue(data.startswith(start))
                self.assertEqual(mp.decode_listing(data), text)

    def test_every_channel_has_a_week_of_well_formed_days(self):
        line = re.compile(r"^(\d\d):(\d\d) \S.*$")
        for channel, data in mp.package_files(FIRST_DAY):
            with self.subTest(channel=channel.entry_name):
                text = mp.decode_listing(data)
                self.assertEqual(mp.encode_listing(text, channel.encoding), data)
                other_breaks = "".join(b for b in (mp.CRLF, mp.LF, mp.CR) if b != channel.newline)
                self.assertFalse(set(text.replace(channel.newline, "")) & set(other_breaks))
                blocks = day_blocks(text, channel.newline)
                self.assertEqual(len(blocks), 7)
                for offset, block in enumerate(blocks):
                    self.assertEqual(block[0], mp.day_header(FIRST_DAY + dt.timedelta(days=offset)))
                    times = [int(m[1]) * 60 + int(m[2]) for m in map(line.match, block[1:]) if m]
                    self.assertEqual(len(times), len(block) - 1, block)
                    self.assertGreater(len(times), 8)
                    self.assertEqual(times, sorted(set(times)))
                    self.assertEqual(times[0], mp.minute_of_day(mp.KINDS[channel.kind].start))

    def test_package_mixes_encodings_and_line_breaks_mostly_gbk_and_crlf(self):
        encodings = [c.encoding for c in mp.CHANNELS]
        breaks = [c.newline for c in mp.CHANNELS]
        for value in mp.ENCODINGS + (mp.CRLF, mp.LF, mp.CR):
            self.assertIn(value, encodings + breaks)
        self.assertGreater(encodings.count(mp.GBK), len(encodings) // 2)
        self.assertGreater(breaks.count(mp.CRLF), len(breaks) // 2)
        self.assertEqual(mp.day_header(dt.date(2026, 12, 13)), "2026-12-13 星期日")


class ServerProcess:
    """A demo server on a free port of 127.0.0.1, started the way the run command starts it."""

    def __init__(self, *extra: str, folder: Path):
        self.ready = folder / f"port-{time.monotonic_ns()}"
        self.process = subprocess.Popen(
            [sys.executable, str(HERE / "demo_server.py"), "--port", "0", "--quiet",
             "--date", FIRST_DAY.isoformat(), "--ready-file", str(self.ready), *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.port = wait_for_port(self.ready, self.process)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.communicate()


def wait_for_port(ready: Path, process: subprocess.Popen | None = None) -> int:
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        if ready.exists():
            return int(ready.read_text())
        if process is not None and process.poll() is not None:
            raise AssertionError(f"server ended early: {process.communicate()}")
        time.sleep(0.05)
    raise AssertionError("server did not report its port")


def wait_until_gone(pid: int) -> bool:
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        state = Path(f"/proc/{pid}/stat")
        try:
            text = state.read_text()
        except OSError:
            return True
        if text[text.rfind(")") + 2] in "ZX":
            return True
        time.sleep(0.05)
    return False


def read_response(stream) -> tuple[int, dict[str, str], bytes]:
    status = int(stream.readline().split()[1])
    headers = {}
    while (line := stream.readline()) not in (b"\r\n", b""):
        name, _, value = line.decode("ascii").partition(":")
        headers[name.strip().lower()] = value.strip()
    return status, headers, stream.read(int(headers.get("content-length", 0)))


class ServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.server = ServerProcess(folder=Path(cls.folder.name))
        cls.package = mp.build_package(FIRST_DAY)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.folder.cleanup()

    def request(self, method: str, path: str) -> tuple[int, dict[str, str], bytes]:
        connection = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=WAIT_SECONDS)
        try:
            connection.request(method, path)
            response = connection.getresponse()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()
        finally:
            connection.close()

    def test_program_requests_get_the_package_over_one_kept_connection(self):
        # The request exactly as the program writes it, twice, the second with a query that
        # already had one of its own.
        template = ("GET /download/showtime.zip{query} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                    "Accept: text/html, */*\r\nAccept-Encoding: identity\r\n"
                    "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n")
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=WAIT_SECONDS) as sock:
            stream = sock.makefile("rwb")
            for query in ("?20261210063000", "?a=1?20261210063001"):
                stream.write(template.format(query=query, port=self.server.port).encode("ascii"))
                stream.flush()
                status, headers, body = read_response(stream)
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], "application/zip")
                self.assertEqual(int(headers["content-length"]), len(self.package))
                self.assertNotEqual(headers.get("connection", "").lower(), "close")
                self.assertEqual(body, self.package)

    def test_root_page_head_and_unknown_paths(self):
        status, headers, body = self.request("GET", "/")
        self.assertEqual((status, headers["content-type"]), (200, "text/html; charset=utf-8"))
        self.assertIn("/download/showtime.zip", body.decode("utf-8"))
        status, headers, body = self.request("HEAD", "/download/showtime.zip?1")
        self.assertEqual((status, int(headers["content-length"]), body), (200, len(self.package), b""))
        for path in ("/download/showtime.zip/x", "/download/other.zip", "/showtime.zip", "/<b>"):
            with self.subTest(path=path):
                status, headers, body = self.request("GET", path)
                self.assertEqual(status, 404)
                self.assertEqual(int(headers["content-length"]), len(body))
                self.assertNotIn(b"<b>", body)

    def test_the_sample_week_as_xmltv_plain_and_gzip(self):
        status, headers, plain = self.request("GET", "/epg.xml")
        self.assertEqual((status, headers["content-type"]), (200, "application/xml"))
        status, headers, packed = self.request("GET", "/epg.xml.gz?20261210063000")
        self.assertEqual((status, headers["content-type"]), (200, "application/gzip"))
        self.assertEqual(gzip.decompress(packed), plain)
        self.assertEqual(plain, mp.xmltv_document(FIRST_DAY))
        root = ElementTree.fromstring(plain)
        channels = root.findall("channel")
        self.assertEqual(len(channels), len(mp.CHANNELS))
        names = [c.find("display-name").text for c in channels]
        self.assertEqual(len(set(names)), len(names), "every channel has a name of its own")
        self.assertIn("ZORQ-1 中央", names)
        self.assertIn("安徽卫视", names)
        # The first channel's programmes are its listing's lines, each ending where the next begins.
        first = [p for p in root.findall("programme") if p.get("channel") == channels[0].get("id")]
        listing = mp.listing_text(mp.CHANNELS[0], FIRST_DAY)
        self.assertEqual(first[0].get("start"), FIRST_DAY.strftime("%Y%m%d") + "060000 +0800")
        self.assertIn(f"06:00 {first[0].find('title').text}", listing)
        self.assertEqual(first[0].get("stop"), first[1].get("start"))
        self.assertIsNone(first[-1].get("stop"))
        self.assertEqual(len(first), sum(1 for line in listing.splitlines() if line[2:3] == ":"))

    def test_garbage_gets_an_error_and_the_server_goes_on(self):
        for garbage in (b"\x00\xff\xfe garbage\r\n\r\n", b"GET " + b"a" * 70000 + b" HTTP/1.1\r\n\r\n"):
            with socket.create_connection(("127.0.0.1", self.server.port), timeout=WAIT_SECONDS) as sock:
                sock.sendall(garbage)
                answer = sock.makefile("rb").readline()
            self.assertRegex(answer, rb"^HTTP/1\.[01] 4\d\d ")
        self.assertEqual(self.request("GET", "/")[0], 200)


class ServerLifetimeTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.path = Path(self.folder.name)

    def test_signals_end_the_server(self):
        for signum in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=signum):
                server = ServerProcess(folder=self.path)
                self.addCleanup(server.stop)
                server.process.send_signal(signum)
                self.assertEqual(server.process.wait(WAIT_SECONDS), 0)

    def test_server_ends_when_the_watched_process_ends(self):
        watched = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(600)"])
        self.addCleanup(watched.kill)
        server = ServerProcess("--parent-pid", str(watched.pid), folder=self.path)
        self.addCleanup(server.stop)
        time.sleep(0.2)
        self.assertIsNone(server.process.poll())
        watched.kill()   # left unreaped on purpose: an ended process that was not waited for counts as gone
        self.assertEqual(server.process.wait(WAIT_SECONDS), 0)

    def test_server_ends_when_its_parent_is_killed(self):
        ready = self.path / "port"
        starter = ("import subprocess, sys, time\n"
                   f"p = subprocess.Popen([sys.executable, {str(HERE / 'demo_server.py')!r}, '--quiet',"
                   f" '--ready-file', {str(ready)!r}])\n"
                   "print(p.pid, flush=True)\ntime.sleep(600)\n")
        parent = subprocess.Popen([sys.executable, "-c", starter], stdout=subprocess.PIPE)
        self.addCleanup(parent.stdout.close)
        self.addCleanup(parent.wait)
        self.addCleanup(parent.kill)
        server_pid = int(parent.stdout.readline())
        wait_for_port(ready)
        parent.kill()
        gone = wait_until_gone(server_pid)
        if not gone:
            os.kill(server_pid, signal.SIGKILL)
        self.assertTrue(gone)

    def test_port_in_use_is_reported(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            result = subprocess.run([sys.executable, str(HERE / "demo_server.py"), "--quiet", "--port",
                                     str(taken.getsockname()[1])], capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"demo_server:", result.stderr)

    @unittest.skipUnless(shutil.which("bash"), "bash not installed")
    def test_launcher_points_the_command_at_the_server_and_stops_it(self):
        seed = self.path / "data"
        probe = ("import os, urllib.request\n"
                 "url = os.environ['PELNAVI_PACKAGE_URL']\n"
                 "assert os.environ['PELNAVI_PROBE_URL'] == url.replace('download/showtime.zip', '')\n"
                 "body = urllib.request.urlopen(url + '?20261210063000', timeout=30).read()\n"
                 "print(os.getppid(), len(body), body[:2].decode())\n"
                 "raise SystemExit(5)\n")
        result = subprocess.run([str(HERE / "with_demo_server.sh"), "--seed", str(seed), "--quiet",
                                 sys.executable, "-c", probe], capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 5, result.stderr)
        launcher_pid, size, magic = result.stdout.split()
        self.assertEqual(magic, b"PK")
        self.assertGreater(int(size), 10000)
        self.assertTrue((seed / "央视频道" / "01.txt").is_file())
        # No server may remain that watches the finished launcher.
        servers = subprocess.run(["pgrep", "-f", f"demo_server.py.*--parent-pid {int(launcher_pid)}"],
                                 capture_output=True).stdout.split()
        self.assertTrue(all(wait_until_gone(int(pid)) for pid in servers))


if __name__ == "__main__":
    unittest.main()
