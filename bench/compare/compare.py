#!/usr/bin/env python3
"""Helpers of bench/compare/run.

  compare.py free-port
  compare.py wait-listening PORT SECONDS PID...
  compare.py wait-mount URL SECONDS PID...
  compare.py server-latency URL COUNT
  compare.py relay PORT URL
  compare.py run --name N --log FILE --result FILE --first-sound REGEX [...] -- COMMAND...
  compare.py table RESULTS --baseline NAME [--xserver]
  compare.py audacious-registry FILE --enable NAME.so,... --only TYPE,...

`run` starts one player under /usr/bin/time, stamps every line it prints
(stdout and stderr, lines ended by \\n or \\r) with the milliseconds since it
was started, watches the Icecast mount's listeners while it plays, stops it,
and appends one JSON line with its figures to the results file. `table`
prints the comparison from those lines.
"""

import argparse
import base64
import http.client
import json
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse
import xml.etree.ElementTree

TIME = "/usr/bin/time"
MARK = "RUSAGE"
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User + system CPU seconds a running process has used so far, from
    /proc/PID/stat (resolution one clock tick), or None."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS
    except (OSError, IndexError, ValueError):
        return None


class Listeners:
    """Polls Icecast's list of a mount's listeners (/admin/listclients,
    with the admin password from $ICECAST_ADMIN_PASSWORD) once a second
    while a player runs. A listener counts when its ID was not on the list
    before the player started, so a connection left over from an earlier
    player is never taken for this one's."""

    def __init__(self, url):
        self.url = urllib.parse.urlsplit(url)
        password = os.environ.get("ICECAST_ADMIN_PASSWORD", "")
        self.auth = "Basic " + base64.b64encode(f"admin:{password}".encode()).decode()
        self.before = None
        self.first_ms = None
        self.last_ms = None
        self.agents = []
        self.polls = 0
        self.errors = 0
        self.stopping = threading.Event()

    def fetch(self):
        """{listener ID: user agent} now on the mount, or None."""
        try:
            connection = http.client.HTTPConnection(self.url.hostname, self.url.port, timeout=2)
            connection.request("GET", self.url.path + "?" + self.url.query,
                               headers={"Authorization": self.auth})
            response = connection.getresponse()
            body = response.read()
            connection.close()
            if response.status != 200:
                return None
            root = xml.etree.ElementTree.fromstring(body)
        except (OSError, http.client.HTTPException, xml.etree.ElementTree.ParseError):
            return None
        return {listener.findtext("ID"): listener.findtext("UserAgent") or "?"
                for listener in root.iter("listener")}

    def start(self, elapsed_ms):
        self.before = self.fetch()
        self.polls += 1
        if self.before is None:
            self.errors += 1
            self.before = {}
        self.elapsed_ms = elapsed_ms
        self.thread = threading.Thread(target=self.watch, daemon=True)
        self.thread.start()

    def watch(self):
        while True:
            now = self.fetch()
            stamp = self.elapsed_ms()
            self.polls += 1
            if now is None:
                self.errors += 1
            else:
                new = {key: agent for key, agent in now.items() if key not in self.before}
                if new:
                    if self.first_ms is None:
                        self.first_ms = stamp
                    self.last_ms = stamp
                    for agent in new.values():
                        if agent not in self.agents:
                            self.agents.append(agent)
            if self.stopping.wait(1.0):
                return

    def stop(self):
        self.stopping.set()
        self.thread.join(timeout=5)

    def result(self):
        return {"listener_checked": True, "listener_first_ms": self.first_ms,
                "listener_last_ms": self.last_ms, "listener_agents": self.agents,
                "listener_polls": self.polls, "listener_errors": self.errors}


def alive(pid):
    """True while the process exists and is not a zombie."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            state = stat.read().rsplit(")", 1)[1].split()[0]
        return state not in ("Z", "X")
    except (OSError, IndexError):
        return False


def check_alive(pids, what):
    for pid in pids:
        if not alive(pid):
            print(f"compare: process {pid} ended while waiting for {what}", file=sys.stderr)
            sys.exit(1)


def cmd_free_port(_args):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        print(probe.getsockname()[1])


def cmd_wait_listening(args):
    deadline = time.monotonic() + args.seconds
    while time.monotonic() < deadline:
        check_alive(args.pids, f"port {args.port}")
        try:
            with socket.create_connection(("127.0.0.1", args.port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.1)
    print(f"compare: nothing listens on port {args.port} after {args.seconds} s", file=sys.stderr)
    sys.exit(1)


def cmd_wait_mount(args):
    url = urllib.parse.urlsplit(args.url)
    deadline = time.monotonic() + args.seconds
    status = None
    while time.monotonic() < deadline:
        check_alive(args.pids, args.url)
        try:
            connection = http.client.HTTPConnection(url.hostname, url.port, timeout=1)
            connection.request("GET", url.path)
            response = connection.getresponse()
            status = response.status
            if status == 200 and response.read(1):
                connection.close()
                return
            connection.close()
        except OSError:
            pass
        time.sleep(0.2)
    print(f"compare: {args.url} not available after {args.seconds} s (last status {status})",
          file=sys.stderr)
    sys.exit(1)


def cmd_server_latency(args):
    """How long the server itself takes to answer and to send the first
    audio bytes, from a bare HTTP/1.0 client: the floor under every player's
    first sound."""
    url = urllib.parse.urlsplit(args.url)
    headers, bodies = [], []
    for _ in range(args.count):
        start = time.monotonic()
        with socket.create_connection((url.hostname, url.port), timeout=5) as client:
            client.sendall(f"GET {url.path} HTTP/1.0\r\nHost: {url.hostname}\r\n\r\n".encode())
            received = b""
            while True:
                chunk = client.recv(65536)
                if not chunk:
                    break
                received += chunk
                end = received.find(b"\r\n\r\n")
                if end >= 0 and len(headers) < len(bodies) + 1:
                    headers.append((time.monotonic() - start) * 1000)
                if end >= 0 and len(received) > end + 4:
                    bodies.append((time.monotonic() - start) * 1000)
                    break
        time.sleep(0.3)
    if not bodies:
        print("server: sent no audio")
        return
    print(f"server floor: a bare HTTP client gets the headers after {median(headers):.0f} ms and "
          f"the first audio bytes after {median(bodies):.0f} ms (median of {len(bodies)}: "
          + ", ".join(f"{value:.0f}" for value in bodies) + ")")


def cmd_relay(args):
    """A proxy for programs whose stations are fixed addresses: whatever a
    client asks for, it gets the stream at args.url."""
    target = urllib.parse.urlsplit(args.url)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(8)

    def pipe(source, sink):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        except OSError:
            pass
        finally:
            for end in (source, sink):
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def serve(client):
        request = b""
        while b"\r\n\r\n" not in request:
            data = client.recv(4096)
            if not data:
                client.close()
                return
            request += data
        head = request.split(b"\r\n\r\n", 1)[0].split(b"\r\n")
        # The client's own headers go along (Icy-MetaData among them); only
        # the request line and the host change.
        lines = [f"GET {target.path or '/'} HTTP/1.0".encode(),
                 f"Host: {target.netloc}".encode()]
        lines += [line for line in head[1:]
                  if not line.lower().startswith((b"host:", b"proxy-", b"connection:"))]
        try:
            upstream = socket.create_connection((target.hostname, target.port or 80), timeout=10)
            upstream.settimeout(None)
            upstream.sendall(b"\r\n".join(lines) + b"\r\n\r\n")
        except OSError:
            client.close()
            return
        threading.Thread(target=pipe, args=(client, upstream), daemon=True).start()
        pipe(upstream, client)

    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


class Player:
    """One player started under /usr/bin/time, its output stamped line by line."""

    def __init__(self, args):
        self.args = args
        self.first_sound = re.compile(args.first_sound) if args.first_sound else None
        self.self_report = re.compile(args.self_report) if args.self_report else None
        self.expect = re.compile(args.expect) if args.expect else None
        self.first_sound_ms = None
        self.first_sound_line = None
        self.self_ms = None
        self.unexpected = []
        self.lines = 0
        self.stop_reason = "ended by itself"
        self.lock = threading.Lock()
        self.timefile = args.log + ".time"
        self.listeners = Listeners(args.listeners) if args.listeners else None
        self.x_before = self.x_after = None
        self.shot_taken = False

    def start(self):
        self.log = open(self.args.log, "w", encoding="utf-8", errors="replace")
        self.log.write("# " + " ".join(self.args.command) + "\n")
        self.log.write("# milliseconds since start | line\n")
        if self.args.xserver_pid:
            self.x_before = cpu_seconds(self.args.xserver_pid)
        self.t0 = time.monotonic()
        if self.listeners:
            self.listeners.start(self.elapsed_ms)
        # A session of its own: a Ctrl-C on the terminal reaches this helper
        # (or the script), never the player directly, so it is always stopped
        # the same way.
        self.proc = subprocess.Popen(
            [TIME, "-f", f"{MARK} %e %U %S %M", "-o", self.timefile, "--"] + self.args.command,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            start_new_session=True)
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def elapsed_ms(self):
        return (time.monotonic() - self.t0) * 1000.0

    def read(self):
        pending = b""
        fd = self.proc.stdout.fileno()
        while True:
            chunk = os.read(fd, 65536)
            stamp = self.elapsed_ms()
            if not chunk:
                if pending:
                    self.line(stamp, pending)
                break
            pending += chunk
            parts = re.split(rb"[\r\n]", pending)
            pending = parts.pop()
            for part in parts:
                if part.strip():
                    self.line(stamp, part)

    def line(self, stamp, raw):
        text = raw.decode("utf-8", errors="replace").rstrip()
        # mpv erases the terminal line before some messages.
        text = text.replace("\x1b[K", "")
        with self.lock:
            self.lines += 1
            self.log.write(f"{stamp:10.1f} | {text}\n")
            if self.first_sound is not None and self.first_sound_ms is None and \
                    self.first_sound.search(text):
                self.first_sound_ms = stamp
                self.first_sound_line = text
            if self.self_report and self.self_ms is None:
                match = self.self_report.search(text)
                if match:
                    self.self_ms = float(match.group(1)) * self.args.self_scale
            if self.expect and not self.expect.search(text) and len(self.unexpected) < 20:
                self.unexpected.append(f"{stamp:.0f} ms: {text}")

    def player_pid(self):
        """The player itself: the child of /usr/bin/time."""
        try:
            with open(f"/proc/{self.proc.pid}/task/{self.proc.pid}/children") as children:
                pids = [int(pid) for pid in children.read().split()]
            if pids:
                return pids[0]
        except OSError:
            pass
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/stat") as stat:
                        if int(stat.read().rsplit(")", 1)[1].split()[1]) == self.proc.pid:
                            return int(entry)
                except (OSError, IndexError, ValueError):
                    continue
        return None

    def stop(self, reason):
        """SIGTERM to the player (not to /usr/bin/time, which must live to
        report); SIGKILL to the whole group when it does not end in 5 s."""
        if self.proc.poll() is not None:
            return
        self.stop_reason = reason
        pid = self.player_pid()
        if pid is not None:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.stop_reason += "; did not end within 5 s of SIGTERM, killed"
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait()

    def kill_all(self):
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass

    def shot_due(self, now, first):
        """Half-way through the sound: after the first-sound line, or after
        the start for a player stopped at a fixed time."""
        if self.args.stop_after is not None:
            return first is not None and now >= first + self.args.stop_after * 500
        if self.args.stop_at is not None:
            return now >= self.args.stop_at * 500 + 1500
        return False

    def take_shot(self):
        """One picture of the X display (DISPLAY=args.shot_display) to
        args.shot, with ffmpeg's x11grab."""
        self.shot_taken = True
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                        "-f", "x11grab", "-i", self.args.shot_display, "-frames:v", "1",
                        self.args.shot], stdin=subprocess.DEVNULL, check=False)

    def run(self):
        interrupted = []

        def on_signal(number, _frame):
            interrupted.append(number)

        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(number, on_signal)
        self.start()
        try:
            while self.proc.poll() is None:
                if interrupted:
                    self.stop("interrupted")
                    break
                now = self.elapsed_ms()
                with self.lock:
                    first = self.first_sound_ms
                if self.args.stop_after is not None and first is not None and \
                        now >= first + self.args.stop_after * 1000:
                    self.stop(f"SIGTERM {self.args.stop_after:g} s after its first sound")
                elif self.args.stop_at is not None and now >= self.args.stop_at * 1000:
                    self.stop(f"SIGTERM {self.args.stop_at:g} s after its start")
                elif now >= self.args.deadline * 1000:
                    self.stop(f"SIGTERM from the watchdog after {self.args.deadline:g} s")
                if self.args.shot and not self.shot_taken and self.shot_due(now, first):
                    self.take_shot()
                time.sleep(0.02)
        finally:
            if self.proc.poll() is None:
                self.kill_all()
                self.proc.wait()
            if self.listeners:
                self.listeners.stop()
            if self.args.xserver_pid:
                self.x_after = cpu_seconds(self.args.xserver_pid)
        self.reader.join(timeout=5)
        self.log.close()
        if interrupted:
            # Die of the same signal, so that the calling shell sees an
            # interruption rather than a failed measurement.
            signal.signal(interrupted[0], signal.SIG_DFL)
            os.kill(os.getpid(), interrupted[0])
            sys.exit(128 + interrupted[0])
        return self.result()

    def result(self):
        figures, notes = None, []
        try:
            with open(self.timefile) as report:
                for line in report:
                    if line.startswith(MARK):
                        figures = line.split()[1:]
                    elif line.strip():
                        notes.append(line.strip())
        except OSError:
            notes.append("no report from /usr/bin/time")
        result = {
            "name": self.args.name,
            "ours": self.args.ours,
            "goals": goals_of(self.args.goals),
            "probe": self.args.probe,
            "log": self.args.log,
            "command": self.args.command,
            "stopped": self.stop_reason,
            "exit": "; ".join(notes) or "exit status 0",
            "first_sound_ms": self.first_sound_ms,
            "first_sound_line": self.first_sound_line,
            "first_sound_means": self.args.means,
            "self_first_sound_ms": self.self_ms,
            "unexpected": self.unexpected,
            "lines": self.lines,
            "listener_checked": False,
        }
        if self.listeners:
            result.update(self.listeners.result())
        if self.x_before is not None and self.x_after is not None:
            result["x_cpu_s"] = self.x_after - self.x_before
        if figures:
            wall, user, system, rss = figures
            result.update(wall_s=float(wall), user_s=float(user), sys_s=float(system),
                          cpu_s=float(user) + float(system), max_rss_kib=int(rss))
        return result


def cmd_run(args):
    if args.command and args.command[0] == "--":
        args.command = args.command[1:]
    if not args.command:
        print("compare: run needs a command after --", file=sys.stderr)
        sys.exit(2)
    result = Player(args).run()
    with open(args.result, "a") as results:
        results.write(json.dumps(result) + "\n")
    summary = f"{result.get('cpu_s', float('nan')):.2f} CPU s, " \
              f"{result.get('max_rss_kib', 0) / 1024:.1f} MiB peak RSS, first sound "
    summary += f"{result['first_sound_ms']:.0f} ms" if result["first_sound_ms"] is not None \
        else "never seen"
    if "x_cpu_s" in result:
        summary += f", X server +{result['x_cpu_s']:.2f} CPU s"
    if result["listener_checked"]:
        summary += ", " + listening(result)
    print(f"  {args.name}: {summary} ({result['stopped']}; {result['exit']})")


# The goals for our own rows, as fractions of the baseline's figure; a row
# may bring goals of its own (--goals).
GOALS = {"cpu_s": 0.25, "max_rss_kib": 0.5, "first_sound_ms": 1.0}
GOAL_NAMES = {"cpu": "cpu_s", "rss": "max_rss_kib", "first": "first_sound_ms"}


def goals_of(text):
    """'cpu=none,rss=1' -> the goals with those two replaced ('none': no goal)."""
    goals = dict(GOALS)
    for item in filter(None, (text or "").split(",")):
        name, _, value = item.partition("=")
        goals[GOAL_NAMES[name.strip()]] = None if value.strip() == "none" else float(value)
    return goals


def peer_goals_of(text):
    """'qmmp=1,vlc=0.8' -> {'qmmp': 1.0, 'vlc': 0.8}."""
    goals = {}
    for item in filter(None, (text or "").split(",")):
        name, _, value = item.partition("=")
        goals[name.strip()] = float(value)
    return goals


def cell(value, base, goal, fmt, ours):
    """value, ratio to the baseline, and the goal check for our rows."""
    if value is None:
        return [fmt.format(float("nan")).replace("nan", "-"), "-", ""]
    ratio = value / base if base else None
    text = [fmt.format(value), f"{ratio:.2f}" if ratio is not None else "-"]
    if ours and goal is not None:
        verdict = "" if ratio is None else ("met" if ratio <= goal else "MISSED")
        text.append(f"<={goal:.2f} {verdict}")
    else:
        text.append("")
    return text


def median(values):
    values = sorted(values)
    if not values:
        return None
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def listening(run):
    """What the mount's listener list showed during one run."""
    if not run.get("listener_checked"):
        return "listeners not checked"
    if run.get("listener_first_ms") is None:
        errors = run.get("listener_errors", 0)
        return "NO LISTENER on the mount" + (f" ({errors} of {run.get('listener_polls', 0)} "
                                               "polls failed)" if errors else "")
    return (f"a listener on the mount from {run['listener_first_ms'] / 1000:.1f} s to "
            f"{run['listener_last_ms'] / 1000:.1f} s after the start "
            f"({', '.join(run['listener_agents'])})")


def spread(values, fmt):
    return ", ".join(fmt.format(value) for value in values)


def print_table(table):
    widths = [max(len(r[i]) for r in table) for i in range(len(table[0]))]
    for number, r in enumerate(table):
        cells = [r[0].ljust(widths[0])] + [c.rjust(w) for c, w in zip(r[1:], widths[1:])]
        print("  ".join(cells).rstrip())
        if number == 0:
            print("  ".join("-" * w for w in widths))


def ratio(value, base):
    return f"{value / base:.2f}" if value is not None and base else "-"


def number(value, fmt):
    return fmt.format(value) if value is not None else "-"


def cmd_table(args):
    runs = []
    with open(args.results) as results:
        for line in results:
            if line.strip():
                runs.append(json.loads(line))
    # One row per player: CPU and memory from its full runs (the median when
    # it had several rounds), first sound as the median over the full runs
    # and the short extra starts.
    rows, order = {}, []
    for run in runs:
        if run["name"] not in rows:
            rows[run["name"]] = {"name": run["name"], "ours": run["ours"], "mains": [],
                                 "goals": run.get("goals") or GOALS,
                                 "samples": [], "starts": 0}
            order.append(run["name"])
        row = rows[run["name"]]
        row["starts"] += 1
        if not run.get("probe"):
            row["mains"].append(run)
        if run["first_sound_ms"] is not None:
            row["samples"].append(run["first_sound_ms"])
    if not rows:
        print("no results")
        return
    for row in rows.values():
        mains = row["mains"]
        row["cpu_s"] = median([run["cpu_s"] for run in mains if "cpu_s" in run])
        row["rss_mib"] = median([run["max_rss_kib"] / 1024 for run in mains
                                 if "max_rss_kib" in run])
        row["x_cpu_s"] = median([run["x_cpu_s"] for run in mains if "x_cpu_s" in run])
        row["total_s"] = median([run["cpu_s"] + run["x_cpu_s"] for run in mains
                                 if "cpu_s" in run and "x_cpu_s" in run])
        row["first_ms"] = median(row["samples"])
        checked = [run for run in mains if run.get("listener_checked")]
        if not checked:
            row["mount"] = "-"
        else:
            missing = sum(1 for run in checked if run.get("listener_first_ms") is None)
            row["mount"] = "yes" if not missing else \
                ("FAILED" if missing == len(checked) else f"FAILED {missing} of {len(checked)}")
    base = rows.get(args.baseline, {})
    if base.get("mount", "").startswith("FAILED"):
        base = {}
    starts = max(row["starts"] for row in rows.values())
    rounds = max(len(row["mains"]) for row in rows.values())
    of_rounds = f" (median of {rounds})" if rounds > 1 else ""
    first_head = "first sound ms" + (f" (median of {starts})" if starts > 1 else "")
    x_base = "x " + args.baseline

    if args.xserver:
        table = [["player", "own CPU s" + of_rounds, x_base, "+ X server s", "= together s",
                  "x " + args.together_baseline, "peak RSS MiB", x_base, first_head,
                  "playing"]]
        together = rows.get(args.together_baseline, {}).get("total_s")
        for name in order:
            row = rows[name]
            table.append([name, number(row["cpu_s"], "{:.2f}"), ratio(row["cpu_s"], base.get("cpu_s")),
                          number(row["x_cpu_s"], "{:.2f}"), number(row["total_s"], "{:.2f}"),
                          ratio(row["total_s"], together),
                          number(row["rss_mib"], "{:.1f}"), ratio(row["rss_mib"], base.get("rss_mib")),
                          number(row["first_ms"], "{:.0f}"), row["mount"]])
        print_table(table)
        checks = []
        for peer, goal in peer_goals_of(args.together_goals).items():
            theirs = rows.get(peer, {})
            if theirs.get("total_s") is None or theirs.get("mount", "").startswith("FAILED") or together is None:
                checks.append(f"x {peer} - (no run of {peer} that played)")
                continue
            value = together / theirs["total_s"]
            checks.append(f"x {peer} {value:.2f} <={goal:.2f} {'met' if value <= goal else 'MISSED'}")
        if checks:
            print(f"goals of {args.together_baseline}, own + X server: " + ", ".join(checks))
    else:
        table = [["player", "CPU s" + of_rounds, x_base, "goal", "peak RSS MiB", x_base, "goal",
                  first_head, x_base, "goal", "playing"]]
        for name in order:
            row = rows[name]
            table.append([name]
                         + cell(row["cpu_s"], base.get("cpu_s"), row["goals"]["cpu_s"], "{:.2f}",
                                row["ours"])
                         + cell(row["rss_mib"], base.get("rss_mib"), row["goals"]["max_rss_kib"],
                                "{:.1f}", row["ours"])
                         + cell(row["first_ms"], base.get("first_ms"),
                                row["goals"]["first_sound_ms"], "{:.0f}", row["ours"])
                         + [row["mount"]])
        print_table(table)
    if not base:
        print(f"(no {args.baseline} row that played: ratios left out)")
    failed = [name for name in order if rows[name]["mount"].startswith("FAILED")]
    if failed:
        print("FAILED: no listener of theirs ever appeared on the mount, so these did not play: "
              + ", ".join(failed))
    print()
    for name in order:
        row, mains = rows[name], rows[name]["mains"]
        print(f"{name}:")
        if not mains:
            print("  no full run")
            continue
        for number_, main in enumerate(mains, 1):
            label = f"full run {number_}" if len(mains) > 1 else "full run"
            if "wall_s" in main:
                text = (f"  {label}: {main['wall_s']:.1f} s wall, {main['user_s']:.2f} s user + "
                        f"{main['sys_s']:.2f} s system = "
                        f"{100 * main['cpu_s'] / main['wall_s']:.1f} % of one core, "
                        f"{main['max_rss_kib'] / 1024:.1f} MiB")
                if "x_cpu_s" in main:
                    text += f"; X server {main['x_cpu_s']:.2f} s"
                print(text)
            else:
                print(f"  {label}: no figures from /usr/bin/time")
            print(f"    stopped: {main['stopped']}; {main['exit']}")
            print(f"    {listening(main)}")
        main = mains[0]
        print(f"  first sound: {main['first_sound_means']}")
        if main["first_sound_line"]:
            print(f"    line used: {main['first_sound_line'][:100]}")
        else:
            print("    that line never appeared in the first full run")
        samples = ", ".join(f"{value:.0f}" for value in row["samples"]) or "none"
        print(f"    ms from its start, full runs first, then the extra starts: {samples}")
        missing = row["starts"] - len(row["samples"])
        if missing:
            print(f"    {missing} of {row['starts']} starts never showed that line")
        own = [run["self_first_sound_ms"] for run in runs
               if run["name"] == name and run["self_first_sound_ms"] is not None]
        if own:
            print("    the same by the player's own clock: "
                  + ", ".join(f"{value:.0f}" for value in own))
        odd = [(run.get("probe"), line) for run in runs if run["name"] == name
               for line in run["unexpected"]]
        if odd:
            print("  unexpected output:")
            for probe, line in odd[:20]:
                print(f"    {'extra start' if probe else 'full run'}, {line}")
        for run in runs:
            if run["name"] != name or not run.get("probe"):
                continue
            if run["exit"] != main["exit"]:
                print(f"  an extra start ended differently: {run['stopped']}; {run['exit']}")
            if run.get("listener_checked") and run.get("listener_first_ms") is None:
                print("  an extra start never showed a listener on the mount")


def cmd_audacious_registry(args):
    """Audacious keeps which plugins are on in its plugin-registry file: one
    block per plugin, opened by a line "TYPE PATH" and holding a line
    "enabled 0|1". Turns on the plugins named (by file name) and, of the
    types listed, turns every other one off (one output, one interface)."""
    enable = set(filter(None, args.enable.split(",")))
    only = set(filter(None, args.only.split(",")))
    with open(args.file) as registry:
        lines = registry.read().split("\n")
    current, found = None, set()
    for index, line in enumerate(lines):
        kind, _, path = line.partition(" ")
        if path.startswith("/") and not kind.isdigit():
            current = (kind, os.path.basename(path))
        elif line.startswith("enabled ") and current:
            kind, name = current
            if name in enable:
                lines[index] = "enabled 1"
                found.add(name)
            elif kind in only:
                lines[index] = "enabled 0"
    with open(args.file, "w") as registry:
        registry.write("\n".join(lines))
    if enable - found:
        print("compare: not in Audacious's plugin registry: " + ", ".join(sorted(enable - found)),
              file=sys.stderr)
        sys.exit(1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="what", required=True)
    commands.add_parser("free-port").set_defaults(func=cmd_free_port)
    listening = commands.add_parser("wait-listening")
    listening.add_argument("port", type=int)
    listening.add_argument("seconds", type=float)
    listening.add_argument("pids", type=int, nargs="*")
    listening.set_defaults(func=cmd_wait_listening)
    mount = commands.add_parser("wait-mount")
    mount.add_argument("url")
    mount.add_argument("seconds", type=float)
    mount.add_argument("pids", type=int, nargs="*")
    mount.set_defaults(func=cmd_wait_mount)
    latency = commands.add_parser("server-latency")
    latency.add_argument("url")
    latency.add_argument("count", type=int)
    latency.set_defaults(func=cmd_server_latency)
    relay = commands.add_parser("relay", help="a proxy that answers every request with one stream")
    relay.add_argument("port", type=int)
    relay.add_argument("url")
    relay.set_defaults(func=cmd_relay)

    run = commands.add_parser("run")
    run.add_argument("--name", required=True)
    run.add_argument("--log", required=True)
    run.add_argument("--result", required=True)
    run.add_argument("--ours", action="store_true", help="show the goals on this row")
    run.add_argument("--probe", action="store_true",
                     help="a short start that only adds a first-sound sample")
    run.add_argument("--stop-at", type=float,
                     help="SIGTERM this many seconds after the start (for a player that "
                          "prints no first-sound line)")
    run.add_argument("--goals", help="this row's goals as ratios to the baseline, "
                                     "e.g. cpu=1,rss=1 (default: the library's goals)")
    run.add_argument("--first-sound",
                     help="regular expression of the first output line that shows sound")
    run.add_argument("--means", default="", help="what that line tells, for the report")
    run.add_argument("--self-report", help="regular expression whose group 1 is the "
                                           "player's own first-sound figure")
    run.add_argument("--self-scale", type=float, default=1.0,
                     help="factor from that figure to milliseconds")
    run.add_argument("--expect", help="regular expression of the lines that are normal; "
                                      "others are listed as unexpected")
    run.add_argument("--stop-after", type=float,
                     help="stop the player this many seconds after its first sound "
                          "(leave out when it stops by itself)")
    run.add_argument("--deadline", type=float, required=True,
                     help="seconds after which the player is stopped in any case")
    run.add_argument("--listeners", help="Icecast's /admin/listclients URL of the mount, "
                                         "watched while the player runs")
    run.add_argument("--xserver-pid", type=int,
                     help="the X server's process, whose CPU time during the run is taken")
    run.add_argument("--shot", help="a PNG file for a picture of the X display half-way "
                                    "through the sound")
    run.add_argument("--shot-display", help="that X display, e.g. :1")
    run.add_argument("command", nargs=argparse.REMAINDER)
    run.set_defaults(func=cmd_run)
    table = commands.add_parser("table")
    table.add_argument("results")
    table.add_argument("--baseline", default="mpv")
    table.add_argument("--xserver", action="store_true",
                       help="the players ran under an X server: show its CPU time too")
    table.add_argument("--together-baseline", default="ondalux",
                       help="the row that own + X server CPU is compared with")
    table.add_argument("--together-goals",
                       help="that row's goals against peers' own + X server CPU, e.g. qmmp=1,vlc=0.8")
    table.set_defaults(func=cmd_table)
    registry = commands.add_parser("audacious-registry")
    registry.add_argument("file")
    registry.add_argument("--enable", required=True)
    registry.add_argument("--only", default="")
    registry.set_defaults(func=cmd_audacious_registry)
    args = parser.parse_args()
    args.func(args)


if __name__ == "__main__":
    main()
