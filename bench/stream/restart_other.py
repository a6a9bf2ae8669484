#!/usr/bin/env python3
"""The restart benchmark for mpv, told to reconnect as FFmpeg's HTTP client
can: runs RECORDER paced at real time on PORT, plays URL in mpv and CYCLES
times kills the recorder once 3 s more have played, waits until mpv's play
position stands still, restarts the recorder a second later and times how
long after the restart the position moves on.

(ffplay is left out: its status line's clock runs on with the wall clock while
it waits for data, so a stall cannot be seen from outside.)

usage: restart_other.py URL RECORDER ROOT PORT CYCLES
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

RECONNECT = {"reconnect": "1", "reconnect_streamed": "1", "reconnect_on_network_error": "1",
             "reconnect_delay_max": "2"}


def start_recorder(recorder, root, port):
    process = subprocess.Popen([recorder, "--root", root, "--listen", "127.0.0.1", "--port", str(port),
                                "--rate", "1"], stderr=subprocess.DEVNULL)
    for _ in range(200):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.1).close()
            return process
        except OSError:
            time.sleep(0.05)
    raise SystemExit("recorder did not start")


class Mpv:
    """Asks mpv for time-pos through its IPC socket."""

    def __init__(self, url):
        self.path = os.path.join(tempfile.mkdtemp(), "mpv.sock")
        options = ",".join(k + "=" + v for k, v in RECONNECT.items())
        self.log = open(os.path.join(os.path.dirname(self.path), "mpv.log"), "w+")
        self.process = subprocess.Popen(["mpv", "--no-config", "--really-quiet", "--vo=x11", "--ao=null",
                                         "--input-ipc-server=" + self.path, "--stream-lavf-o=" + options, url],
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.sock = None

    def why_ended(self):
        self.log.seek(0)
        lines = self.log.read().strip().splitlines()
        return f"exit status {self.process.poll()}" + (f", last words: {lines[-1]}" if lines else "")

    def position(self):
        try:
            if self.sock is None:
                self.sock = socket.socket(socket.AF_UNIX)
                self.sock.connect(self.path)
                self.sock.settimeout(1)
                self.file = self.sock.makefile("rb")
            self.sock.sendall(b'{"command": ["get_property", "time-pos"], "request_id": 1}\n')
            while True:
                answer = json.loads(self.file.readline())
                if answer.get("request_id") == 1:
                    return answer.get("data")
        except (OSError, ValueError):
            self.sock = None
            return None


def wait_until(condition, timeout):
    until = time.monotonic() + timeout
    while time.monotonic() < until:
        if condition():
            return True
        time.sleep(0.02)
    return False


def main():
    url, recorder_path, root, port, cycles = sys.argv[1:6]
    port, cycles = int(port), int(cycles)
    recorder = start_recorder(recorder_path, root, port)
    player = Mpv(url)
    try:
        if not wait_until(lambda: (player.position() or 0) > 0.5, 60):
            print("mpv did not start: " + player.why_ended())
            return
        for cycle in range(1, cycles + 1):
            at = player.position() or 0
            wait_until(lambda: (player.position() or 0) >= at + 3 or player.process.poll() is not None, 60)
            if player.process.poll() is not None:
                print(f"cycle {cycle}: mpv ended before the kill ({player.why_ended()})")
                return
            recorder.send_signal(signal.SIGKILL)
            recorder.wait()
            killed = time.monotonic()
            # The clock stands still: nothing has moved it for 500 ms.
            last, still_since = player.position(), time.monotonic()
            while time.monotonic() - still_since < 0.5 and time.monotonic() - killed < 60:
                time.sleep(0.02)
                now = player.position()
                if now != last:
                    last, still_since = now, time.monotonic()
            stalled_ms = (still_since - killed) * 1000
            time.sleep(1)
            stopped_at = player.position() or 0
            recorder = start_recorder(recorder_path, root, port)
            restarted = time.monotonic()
            ended = player.process.poll() is not None
            resumed = not ended and wait_until(lambda: (player.position() or 0) > stopped_at + 0.02, 30)
            if not resumed:
                why = player.why_ended() if player.process.poll() is not None else "not within 30 s"
                print(f"cycle {cycle}: stalled {stalled_ms:.0f} ms after the kill at {stopped_at * 1000:.0f} ms;"
                      f" did not resume ({why})")
                return
            print(f"cycle {cycle}: stalled {stalled_ms:.0f} ms after the kill at {stopped_at * 1000:.0f} ms; "
                  f"moving again {(time.monotonic() - restarted) * 1000:.0f} ms after the restart, "
                  f"at {(player.position() or 0) * 1000:.0f} ms")
            sys.stdout.flush()
    finally:
        player.process.kill()
        player.process.wait()
        shutil.rmtree(os.path.dirname(player.path), ignore_errors=True)
        recorder.kill()
        recorder.wait()


main()
