#!/usr/bin/env python3
"""mpv's side of the seek benchmark: the same ten seeks 50 ms apart as
engine_bench, over mpv's IPC socket; time from the last seek command to the
"playback-restart" event that lands at its target (median of 5 rounds), then
one exact seek 9 s past a key frame (median of 3), and one 1 s ahead of a
landed seek, paused (median of 3), and one 1 s ahead after playing 0.5 s from
a landed seek, then pausing (median of 3). Usage: mpv_seeks.py FILE"""
import json, os, socket, statistics, subprocess, sys, tempfile, time

path = sys.argv[1]
folder = tempfile.mkdtemp()
address = os.path.join(folder, "mpv.sock")
mpv = subprocess.Popen(["mpv", "--no-config", "--really-quiet", "--vo=x11", "--hwdec=no", "--ao=null",
                        "--geometry=740x540", "--keep-open=yes", "--input-ipc-server=" + address, path])
try:
    for _ in range(200):
        if os.path.exists(address):
            break
        time.sleep(0.05)
    sock = socket.socket(socket.AF_UNIX)
    sock.connect(address)
    sock.settimeout(15)  # a landing that never comes reads as nan, not a hang
    stream = sock.makefile("rwb", buffering=0)
    request_id = 0

    def send(*command):
        global request_id
        request_id += 1
        stream.write((json.dumps({"command": list(command), "request_id": request_id}) + "\n").encode())
        return request_id

    def read():
        return json.loads(stream.readline())

    def time_pos():
        wanted = send("get_property", "time-pos")
        while True:
            message = read()
            if message.get("request_id") == wanted:
                return message.get("data")

    def landed(target, since):
        """Seconds from `since` to the restart at `target`."""
        global stream
        deadline = time.monotonic() + 15
        try:
            while time.monotonic() < deadline:
                message = read()
                if message.get("event") == "playback-restart":
                    at = time.monotonic()
                    position = time_pos()
                    if position is not None and abs(position - target) < 0.045:
                        return at - since
        except socket.timeout:
            # A file object that timed out reads no more: a new one on the
            # same socket (unbuffered, so nothing read is lost).
            stream = sock.makefile("rwb", buffering=0)
        return float("nan")

    time.sleep(1.5)
    rounds, single = [], []
    for round_ in range(5):
        send("set_property", "pause", False)
        time.sleep(0.5)
        for i in range(10):
            target = (19.0 if round_ % 2 else 9.0) + i * 0.08 + round_ * 0.04
            last = time.monotonic()
            send("seek", target, "absolute+exact")
            if i < 9:
                time.sleep(0.05)
        send("set_property", "pause", True)
        rounds.append(landed(target, last))
    for round_ in range(3):
        target = 9.0 + round_ * 10
        start = time.monotonic()
        send("seek", target, "absolute+exact")
        single.append(landed(target, start))
    ahead = []
    for round_ in range(3):
        target = 4.0 + round_ * 10
        send("seek", target, "absolute+exact")
        landed(target, time.monotonic())
        time.sleep(0.2)
        start = time.monotonic()
        send("seek", target + 1, "absolute+exact")
        ahead.append(landed(target + 1, start))
    played_ahead = []
    for round_ in range(3):
        target = 4.0 + round_ * 10
        send("seek", target, "absolute+exact")
        landed(target, time.monotonic())
        send("set_property", "pause", False)
        time.sleep(0.5)
        send("set_property", "pause", True)
        time.sleep(0.2)
        ahead_target = int(time_pos() * 25) / 25 + 1
        start = time.monotonic()
        send("seek", ahead_target, "absolute+exact")
        played_ahead.append(landed(ahead_target, start))
    print("%-24s ten seeks 50 ms apart: target picture %.0f (median of 5; worst %.0f)  "
          "one exact seek 9 s past a key frame: %.0f (median of 3)  a seek 1 s ahead of a landed one, paused: "
          "%.0f (median of 3)  played, paused, a seek 1 s ahead: %.0f (median of 3) (ms, to playback-restart)"
          % ("mpv", statistics.median(rounds) * 1000, max(rounds) * 1000, statistics.median(single) * 1000,
             statistics.median(ahead) * 1000, statistics.median(played_ahead) * 1000))
finally:
    mpv.terminate()
    mpv.wait()
