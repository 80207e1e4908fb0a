#!/usr/bin/python3
"""Runs Netquill's benchmarks beside their references and writes the figures into bench/README.md.

Usage: bench.py <bin-folder> [--quick]
Every peer listens on 127.0.0.1. Figures are medians of repeated runs; a ratio is taken per round
(program and reference measured back to back), and the median, min and max of those ratios reported.
"""
import asyncio
import collections
import http.server
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BIN = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/bin")
QUICK = "--quick" in sys.argv
# --only=lookup,e-mail runs those benchmarks alone (their figures are printed, README.md left alone).
ONLY = next((a.split("=", 1)[1].split(",") for a in sys.argv if a.startswith("--only=")), None)
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
# Settings on the real disk (not tmpfs): the lookup's durability costs what it costs.
WORK = os.path.join(ROOT, "build", "bench-work")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stats(values):
    return statistics.median(values), min(values), max(values)


def fmt(values, unit, digits=1):
    med, lo, hi = stats(values)
    return f"{med:.{digits}f} {unit} ({lo:.{digits}f}–{hi:.{digits}f})"


def stop(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def read_kb(path, keys):
    total = 0
    with open(path) as f:
        for line in f:
            name, _, rest = line.partition(":")
            if name in keys:
                total += int(rest.split()[0])
    return total


def rss_kb(pid):
    return read_kb(f"/proc/{pid}/status", {"VmRSS"})


def uss_kb(pid):
    return read_kb(f"/proc/{pid}/smaps_rollup", {"Private_Clean", "Private_Dirty"})


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def cpu_ns(pid):
    with open(f"/proc/{pid}/schedstat") as f:
        return int(f.read().split()[0])  # time on a CPU, in ns


def maps_webengine(pid):
    with open(f"/proc/{pid}/maps") as f:
        return "libQt6WebEngineCore" in f.read()


# ---------------------------------------------------------------------------------------------- peers

class ArrivalServer:
    """A tiny HTTP server that answers the external-IP page and records when each request arrives."""

    def __init__(self, alternate=False, host="127.0.0.1"):
        """alternate: the body changes with every request (127.0.0.1, 127.0.0.2, ...)."""
        arrivals = self.arrivals = []
        event = self.event = threading.Event()
        counter = [0]

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"
            # Headers and body go out in two writes; with Nagle's algorithm the body then waits for
            # the client's delayed ACK (40 ms) on a kept-alive connection, which curl never reuses.
            disable_nagle_algorithm = True

            def do_GET(self):
                arrivals.append(time.time())
                event.set()
                counter[0] += 1
                body = f"127.0.0.{1 + counter[0] % 2}".encode() if alternate else self.client_address[0].encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_POST(self):
                # A notice channel's post: read whole, answered at once with an empty 200.
                self.rfile.read(int(self.headers.get("Content-Length", 0)))
                arrivals.append(time.time())
                event.set()
                self.send_response(200)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer((host, 0), Handler)
        self.server.daemon_threads = True
        self.server.handle_error = lambda *args: None  # programs are stopped mid-connection on purpose
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def first_after(self, t0, timeout=15):
        end = time.time() + timeout
        while time.time() < end:
            hits = [t for t in self.arrivals if t >= t0]
            if hits:
                return hits[0]
            self.event.wait(0.01)
            self.event.clear()
        raise RuntimeError("no request arrived")

    def close(self):
        self.server.shutdown()


class Nginx:
    def __init__(self):
        self.prefix = tempfile.mkdtemp(prefix="nginx-", dir=WORK)
        self.port = free_port()
        conf = os.path.join(self.prefix, "nginx.conf")
        with open(conf, "w") as f:
            f.write(f"""daemon off;
master_process off;
worker_processes 1;
pid {self.prefix}/nginx.pid;
error_log {self.prefix}/error.log;
events {{ worker_connections 256; }}
http {{
    access_log off;
    client_body_temp_path {self.prefix}/body;
    proxy_temp_path {self.prefix}/proxy;
    fastcgi_temp_path {self.prefix}/fastcgi;
    uwsgi_temp_path {self.prefix}/uwsgi;
    scgi_temp_path {self.prefix}/scgi;
    server {{
        listen 127.0.0.1:{self.port};
        include {ROOT}/deploy/netquill-external-ip.conf;
    }}
}}
""")
        self.proc = subprocess.Popen(["/usr/sbin/nginx", "-p", self.prefix, "-c", conf],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_listening(self.port)
        self.url = f"http://127.0.0.1:{self.port}/extras/GetExternalIP.asp"

    def close(self):
        stop(self.proc)


def wait_listening(port, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on {port}")


class Xvfb:
    def __init__(self):
        for n in range(90, 140):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                break
        self.display = f":{n}"
        self.proc = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = time.time() + 10
        while not os.path.exists(f"/tmp/.X11-unix/X{n}"):
            if time.time() > end:
                raise RuntimeError("Xvfb did not start")
            time.sleep(0.05)

    def close(self):
        stop(self.proc)


SmtpTimes = collections.namedtuple("SmtpTimes", "connected helo data_end quit")


class SmtpServer:
    """aiosmtpd, recording for each session when the connection was accepted, when HELO arrived, when
    the message's end ("." line) was read and when QUIT arrived."""

    def __init__(self):
        from aiosmtpd.controller import Controller
        from aiosmtpd.smtp import SMTP

        sessions = self.sessions = []

        class Timed(SMTP):
            def connection_made(self, transport):
                self._connected_at = time.time()
                self._helo_at = self._data_end_at = None
                super().connection_made(transport)

            async def smtp_HELO(self, hostname):
                self._helo_at = time.time()
                await super().smtp_HELO(hostname)

            async def smtp_QUIT(self, arg):
                sessions.append(SmtpTimes(self._connected_at, self._helo_at, self._data_end_at, time.time()))
                await super().smtp_QUIT(arg)

        class Sink:
            async def handle_DATA(self, server, session, envelope):
                server._data_end_at = time.time()  # called as soon as the "." line has been read
                return "250 OK"

        class TimedController(Controller):
            def factory(self):
                return Timed(self.handler, **self.SMTP_kwargs)

        self.port = free_port()
        self.controller = TimedController(Sink(), hostname="127.0.0.1", port=self.port)
        self.controller.start()

    def wait_sessions(self, count, timeout=30):
        end = time.time() + timeout
        while len(self.sessions) < count:
            if time.time() > end:
                raise RuntimeError("SMTP sessions missing")
            time.sleep(0.002)

    def close(self):
        self.controller.stop()


# ------------------------------------------------------------------------------------------- helpers

def program_env(display, config, ip_host=None, extra=None):
    env = dict(os.environ)
    env.pop("QT_QPA_PLATFORM", None)
    env["DISPLAY"] = display
    env["XDG_CONFIG_HOME"] = config
    if ip_host:
        env["NETQUILL_IP_HOST"] = ip_host
    env.update(extra or {})
    return env


def write_settings(config, values):
    os.makedirs(os.path.join(config, "Netquill"), exist_ok=True)
    with open(os.path.join(config, "Netquill", "Netquill.conf"), "w") as f:
        f.write("[Settings]\n")
        for key, value in values.items():
            f.write(f"{key}={value}\n")


def fresh_config(name, values=None):
    path = os.path.join(WORK, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    if values is not None:
        write_settings(path, values)
    return path


def until_request(cmd, env, server):
    """Starts cmd and returns (seconds to its first request, its stdout lines, start time)."""
    # The X server is still tearing down the program stopped just before; a start that overlaps it
    # takes some 20 ms longer to connect. Every program gets the same quiet start.
    time.sleep(0.2)
    t0 = time.time()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        arrived = server.first_after(t0)
    finally:
        stop(proc)
    out = proc.stdout.read().split("\n")
    return arrived - t0, out, t0


# ---------------------------------------------------------------------------------------- benchmarks

def bench_startup(xvfb, rows):
    rounds = 5 if QUICK else 15
    server = ArrivalServer()
    host = f"127.0.0.1:{server.port}"
    config = fresh_config("startup")  # defaults: the help window opens at start, as it does for a new user
    bare, bare_nt, total, splash, rest, ratio, ratio_nt = [], [], [], [], [], [], []
    for _ in range(rounds):
        b, _, _ = until_request([f"{BIN}/bench_bareqt", f"http://{host}/extras/GetExternalIP.asp"],
                                program_env(xvfb.display, config), server)
        nt, _, _ = until_request([f"{BIN}/bench_bareqt", "--no-text", f"http://{host}/extras/GetExternalIP.asp"],
                                 program_env(xvfb.display, config), server)
        t, _, _ = until_request([f"{BIN}/netquill"], program_env(xvfb.display, config, host), server)
        r, out, t0 = until_request([f"{BIN}/bench_startup"], program_env(xvfb.display, config, host), server)
        marks = dict(line.split() for line in out if line)
        wait = (int(marks["splash_end_us"]) - int(marks["splash_start_us"])) / 1e6
        bare.append(b * 1e3)
        total.append(t * 1e3)
        splash.append(wait * 1e3)
        rest.append((r - wait) * 1e3)
        ratio.append((r - wait) / b)
        bare_nt.append(nt * 1e3)
        ratio_nt.append((r - wait) / nt)
    server.close()
    rows.append(("1. Start-up: start to first request, the rest (program minus the splash's wait)",
                 fmt(rest, "ms"), "bare Qt window, fetch once shown: " + fmt(bare, "ms"), ratio, "≤ 1.2x"))
    rows.append(("1. Start-up: the rest, against a window without text",
                 fmt(rest, "ms"), "bare Qt window, no text: " + fmt(bare_nt, "ms"), ratio_nt, "—"))
    rows.append(("1. Start-up: the splash's wait (75 ticks of 2 ms)", fmt(splash, "ms"), "—", None, "—"))
    rows.append(("1. Start-up: whole, start to first request", fmt(total, "ms"),
                 "bare Qt window: " + fmt(bare, "ms"), [a / b for a, b in zip(total, bare)], "—"))


def run_lookups(url, cycles, config, checkpoints=(), confirm=None):
    env = dict(os.environ, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="offscreen")
    extra = ["--confirm-with", confirm] if confirm else []
    out = subprocess.run([f"{BIN}/bench_lookup", url, str(cycles), *extra, *map(str, checkpoints)], env=env,
                         check=True, capture_output=True, text=True).stdout.split("\n")
    times = [int(line.split()[1]) / 1e3 for line in out if line.startswith("cycle_us")]
    rss = {int(line.split()[1]): int(line.split()[2]) for line in out if line.startswith("rss_kb")}
    return times, rss


def run_curls(url, count):
    times = []
    for _ in range(count):
        t0 = time.perf_counter()
        subprocess.run(["curl", "-s", "-o", "/dev/null", url], check=True)
        times.append((time.perf_counter() - t0) * 1e3)
    return times


def bench_lookup(nginx, rows):
    rounds, per_round = (3, 20) if QUICK else (8, 30)
    config = fresh_config("lookup", {})
    lookups, curls, ratio = [], [], []
    for _ in range(rounds):
        l, _ = run_lookups(nginx.url, per_round, config)
        c = run_curls(nginx.url, per_round)
        lookups += l
        curls += c
        ratio.append(statistics.median(l) / statistics.median(c))
    rows.append((f"2. Lookup: Refresh to \"Finished\", settings on disk ({len(lookups)} cycles), address unchanged",
                 fmt(lookups, "ms", 2), f"curl, same page ({len(curls)} runs): " + fmt(curls, "ms", 2), ratio,
                 "≤ 1.2x"))
    # The same with a page whose address changes on every request: each lookup writes and syncs.
    server = ArrivalServer(alternate=True)
    url = f"http://127.0.0.1:{server.port}/extras/GetExternalIP.asp"
    lookups, curls, ratio = [], [], []
    for _ in range(rounds):
        l, _ = run_lookups(url, per_round, config)
        c = run_curls(url, per_round)
        lookups += l
        curls += c
        ratio.append(statistics.median(l) / statistics.median(c))
    server.close()
    rows.append((f"2. Lookup: the same, address changed every time, saved behind the status ({len(lookups)} cycles)",
                 fmt(lookups, "ms", 2), f"curl, same page ({len(curls)} runs): " + fmt(curls, "ms", 2), ratio,
                 "≤ 1.2x"))
    # A change confirmed by a second source of another host: one more request, beside curl of both pages.
    first, second = ArrivalServer(alternate=True), ArrivalServer(alternate=True, host="127.0.0.2")
    url = f"http://127.0.0.1:{first.port}/extras/GetExternalIP.asp"
    other = f"http://127.0.0.2:{second.port}/ip"
    lookups, curls, ratio = [], [], []
    for _ in range(rounds):
        l, _ = run_lookups(url, per_round, config, confirm=other)
        c = [a + b for a, b in zip(run_curls(url, per_round), run_curls(other, per_round))]
        lookups += l
        curls += c
        ratio.append(statistics.median(l) / statistics.median(c))
    first.close()
    second.close()
    rows.append((f"2. Lookup: address changed every time, confirmed by a second source ({len(lookups)} cycles)",
                 fmt(lookups, "ms", 2), f"curl of both pages ({len(curls)} runs): " + fmt(curls, "ms", 2), ratio,
                 "≤ 1.2x"))


def bench_growth(xvfb, nginx, smtp, rows):
    # The program, Refresh clicked again as each lookup ends, against a page alternating two
    # addresses: every lookup is a change, a save and a history line.
    server = ArrivalServer(alternate=True)
    config = fresh_config("growth-changes", {})  # a new user's: the help window opens at start
    many = 4000 if QUICK else 20000
    marks = (100, 1000, many // 2, many)
    env = program_env(xvfb.display, config, f"127.0.0.1:{server.port}", {"XDG_STATE_HOME": config})
    out = subprocess.run([f"{BIN}/bench_refresh", str(many), *map(str, marks)], env=env, check=True,
                         capture_output=True, text=True).stdout.split("\n")
    server.close()
    rss = {int(line.split()[1]): int(line.split()[2]) for line in out if line.startswith("rss_kb")}
    rows.append((f"7. Growth: RSS after 100 / 1,000 / {many // 2:,} / {many:,} lookups of the program, "
                 "each a change", " / ".join(f"{rss[k] / 1024:.1f}" for k in marks)
                 + f" MiB ({(rss[many] - rss[100]) / 1024:+.2f} MiB)", "after 100", [rss[many] / rss[100]],
                 "≤ +0.5 MiB"))
    config = fresh_config("growth", {})
    big = 2000 if QUICK else 10000
    _, rss = run_lookups(nginx.url, big, config, (0, 1, 1000, big))
    rows.append((f"7. Growth: RSS after 0 / 1 / 1,000 / {big:,} lookups",
                 " / ".join(f"{rss[k] / 1024:.1f}" for k in (0, 1, 1000, big)) + " MiB", "after 1,000",
                 [rss[big] / rss[1000]], "flat"))
    out = subprocess.run([f"{BIN}/bench_smtp", "127.0.0.1", str(smtp.port), "100", "0", "1", "10", "100"],
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"), check=True, capture_output=True,
                         text=True).stdout.split("\n")
    rss = {int(line.split()[1]): int(line.split()[2]) for line in out if line.startswith("rss_kb")}
    rows.append(("7. Growth: RSS after 0 / 1 / 10 / 100 notifications",
                 " / ".join(f"{rss[k] / 1024:.1f}" for k in (0, 1, 10, 100)) + " MiB", "after 10",
                 [rss[100] / rss[10]], "flat"))


def start_idle(cmd, env):
    return subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def bench_memory(xvfb, nginx, rows):
    rounds = 1 if QUICK else 3
    host = f"127.0.0.1:{nginx.port}"
    rss_p, uss_p, rss_b, uss_b, r_rss, r_uss, mapped = [], [], [], [], [], [], []
    rss_nt, dirty_p, dirty_b = [], [], []
    for i in range(rounds):
        config = fresh_config(f"memory{i}")  # defaults: help window at start; the first lookup loads the overlay
        prog = start_idle([f"{BIN}/netquill"], program_env(xvfb.display, config, host))
        bare = start_idle([f"{BIN}/bench_bareqt", nginx.url], program_env(xvfb.display, config))
        bare_nt = start_idle([f"{BIN}/bench_bareqt", "--no-text", nginx.url], program_env(xvfb.display, config))
        time.sleep(10)
        rss_nt.append(rss_kb(bare_nt.pid) / 1024)
        dirty_p.append(read_kb(f"/proc/{prog.pid}/smaps_rollup", {"Private_Dirty"}) / 1024)
        dirty_b.append(read_kb(f"/proc/{bare.pid}/smaps_rollup", {"Private_Dirty"}) / 1024)
        stop(bare_nt)
        rss_p.append(rss_kb(prog.pid) / 1024)
        uss_p.append(uss_kb(prog.pid) / 1024)
        rss_b.append(rss_kb(bare.pid) / 1024)
        uss_b.append(uss_kb(bare.pid) / 1024)
        mapped.append(maps_webengine(prog.pid))
        r_rss.append(rss_p[-1] / rss_b[-1])
        r_uss.append(uss_p[-1] / uss_b[-1])
        stop(prog)
        stop(bare)
    rows.append(("3. Idle memory 10 s after start: RSS", fmt(rss_p, "MiB"), "bare Qt window: " + fmt(rss_b, "MiB"),
                 r_rss, "≤ 1.3x"))
    rows.append(("3. Idle memory 10 s after start: RSS, against a window without text", fmt(rss_p, "MiB"),
                 "bare Qt window, no text: " + fmt(rss_nt, "MiB"), [p / b for p, b in zip(rss_p, rss_nt)], "—"))
    rows.append(("3. Idle memory 10 s after start: USS (private clean + dirty)", fmt(uss_p, "MiB"),
                 "bare Qt window: " + fmt(uss_b, "MiB"), r_uss, "≤ 1.3x"))
    rows.append(("3. Idle memory 10 s after start: private dirty only", fmt(dirty_p, "MiB"),
                 "bare Qt window: " + fmt(dirty_b, "MiB"), [p / b for p, b in zip(dirty_p, dirty_b)], "—"))
    return any(mapped)


def bench_cpu(xvfb, nginx, rows):
    seconds = 20 if QUICK else 60
    host = f"127.0.0.1:{nginx.port}"
    config = fresh_config("cpu", {"refresh": "1", "showHelp": "0"})
    prog = start_idle([f"{BIN}/netquill"], program_env(xvfb.display, config, host))
    bare = start_idle([f"{BIN}/bench_bareqt", nginx.url], program_env(xvfb.display, fresh_config("cpu-bare")))
    time.sleep(5)
    hz = os.sysconf("SC_CLK_TCK")
    p0, b0, t0 = cpu_ticks(prog.pid), cpu_ticks(bare.pid), time.time()
    pn0, bn0 = cpu_ns(prog.pid), cpu_ns(bare.pid)
    time.sleep(seconds)
    p1, b1, t1 = cpu_ticks(prog.pid), cpu_ticks(bare.pid), time.time()
    pn1, bn1 = cpu_ns(prog.pid), cpu_ns(bare.pid)
    stop(prog)
    stop(bare)
    prog_pct = 100 * (pn1 - pn0) / 1e9 / (t1 - t0)
    bare_pct = 100 * (bn1 - bn0) / 1e9 / (t1 - t0)
    rows.append((f"4. Idle CPU, auto-refresh on, over {seconds} s",
                 f"{prog_pct:.4f} % of a core ({(pn1 - pn0) / 1e6:.1f} ms; utime+stime {p1 - p0} ticks of 1/{hz} s)",
                 f"bare Qt window: {bare_pct:.4f} % ({(bn1 - bn0) / 1e6:.1f} ms; {b1 - b0} ticks)",
                 None, "< 0.1 %"))


def swaks_command(smtp):
    """swaks sending the exact bytes of the program's notification, with the same HELO name."""
    message = os.path.join(WORK, "message.eml")
    helo = subprocess.run([f"{BIN}/bench_smtp", "--message", message], check=True, capture_output=True,
                          text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen")).stdout.strip()
    return ["swaks", "--server", "127.0.0.1", "--port", str(smtp.port), "--protocol", "SMTP", "--helo", helo,
            "--from", "netquill@example.com", "--to", "owner@example.com", "--data", "@" + message]


def smtp_session(smtp, cmd, env):
    """Runs cmd to its end; returns its start time and the times of the one session it held."""
    before = len(smtp.sessions)
    t0 = time.time()
    subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    smtp.wait_sessions(before + 1)
    return t0, smtp.sessions[before]


def bench_smtp(smtp, rows):
    swaks = swaks_command(smtp)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

    def session(cmd):
        return smtp_session(smtp, cmd, env)

    rounds = 5 if QUICK else 15
    start_p, start_s, ratio = [], [], []
    for _ in range(rounds):
        t0, times = session([f"{BIN}/bench_smtp", "127.0.0.1", str(smtp.port), "1"])
        start_p.append((times.quit - t0) * 1e3)
        t0, times = session(swaks)
        start_s.append((times.quit - t0) * 1e3)
        ratio.append(start_p[-1] / start_s[-1])
    rows.append(("5. E-mail at start-up: process start to QUIT at the server", fmt(start_p, "ms"),
                 "swaks, same bytes: " + fmt(start_s, "ms"), ratio, "≤ 1.0x"))

    rounds, per_round = (3, 10) if QUICK else (6, 25)
    steady_p, steady_s, ratio = [], [], []
    for _ in range(rounds):
        before = len(smtp.sessions)
        subprocess.run([f"{BIN}/bench_smtp", "127.0.0.1", str(smtp.port), str(per_round)], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        smtp.wait_sessions(before + per_round)
        p = [(t.quit - t.connected) * 1e3 for t in smtp.sessions[before:before + per_round]]
        s = []
        for _ in range(per_round):
            _, times = session(swaks)
            s.append((times.quit - times.connected) * 1e3)
        steady_p += p
        steady_s += s
        ratio.append(statistics.median(p) / statistics.median(s))
    rows.append(("5. E-mail steady: connect to QUIT at the server", fmt(steady_p, "ms", 2),
                 "swaks, same bytes: " + fmt(steady_s, "ms", 2), ratio, "≤ 1.0x"))


def ms(a, b):
    return (b - a) * 1e3


def bench_program_mail(xvfb, smtp, rows):
    """The real program, each session timed at the server from the accepted connection: at start-up the
    notification its first lookup sends, and in steady state notifications sent back to back from its
    main window once start-up is over (the session beside the window's repaints)."""
    swaks = swaks_command(smtp)
    swaks_env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    server = ArrivalServer()  # answers 127.0.0.1, which differs from the stored address
    host = f"127.0.0.1:{server.port}"
    mail = {"OldExternal": "192.0.2.1", "OldInternal": "192.0.2.1", "strServer": "127.0.0.1",
            "strPort": str(smtp.port), "strEmailTo": "owner@example.com", "strEmailFrom": "netquill@example.com"}

    rounds = 5 if QUICK else 15
    helo_p, helo_s, quit_p, quit_s, r_helo, r_quit = [], [], [], [], [], []
    for _ in range(rounds):
        config = fresh_config("mail-startup", dict(mail, emailNotify="1"))  # a new user's other defaults
        time.sleep(0.2)  # a quiet X server, as for the start-up benchmark
        before = len(smtp.sessions)
        proc = subprocess.Popen([f"{BIN}/netquill"], env=program_env(xvfb.display, config, host),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            smtp.wait_sessions(before + 1)
        finally:
            stop(proc)
        p = smtp.sessions[before]
        _, s = smtp_session(smtp, swaks, swaks_env)
        helo_p.append(ms(p.connected, p.helo))
        helo_s.append(ms(s.connected, s.helo))
        quit_p.append(ms(p.connected, p.quit))
        quit_s.append(ms(s.connected, s.quit))
        r_helo.append(helo_p[-1] / helo_s[-1])
        r_quit.append(quit_p[-1] / quit_s[-1])
    server.close()
    rows.append(("5. E-mail at start-up, the program's first lookup: connection accepted to HELO",
                 fmt(helo_p, "ms", 2), "swaks, same bytes: " + fmt(helo_s, "ms", 2), r_helo, "≤ 1.0x"))
    rows.append(("5. E-mail at start-up, the program's first lookup: connection accepted to QUIT",
                 fmt(quit_p, "ms", 2), "swaks, same bytes: " + fmt(quit_s, "ms", 2), r_quit, "≤ 1.0x"))

    rounds, per_round = (3, 10) if QUICK else (6, 25)
    config = fresh_config("mail-steady", dict(mail, emailNotify="0", OldExternal="127.0.0.1"))
    quit_p, quit_s, end_p, end_s, r_quit, r_end = [], [], [], [], [], []
    for _ in range(rounds):
        before = len(smtp.sessions)
        subprocess.run([f"{BIN}/bench_mail", str(per_round)], env=program_env(xvfb.display, config, host),
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        smtp.wait_sessions(before + per_round)
        p = smtp.sessions[before:before + per_round]
        s = [smtp_session(smtp, swaks, swaks_env)[1] for _ in range(per_round)]
        q_p, q_s = [ms(t.connected, t.quit) for t in p], [ms(t.connected, t.quit) for t in s]
        e_p, e_s = [ms(t.data_end, t.quit) for t in p], [ms(t.data_end, t.quit) for t in s]
        quit_p += q_p
        quit_s += q_s
        end_p += e_p
        end_s += e_s
        r_quit.append(statistics.median(q_p) / statistics.median(q_s))
        r_end.append(statistics.median(e_p) / statistics.median(e_s))
    rows.append(("5. E-mail steady, sent from the main window: connection accepted to QUIT",
                 fmt(quit_p, "ms", 2), "swaks, same bytes: " + fmt(quit_s, "ms", 2), r_quit, "≤ 1.0x"))
    rows.append(("5. E-mail steady, sent from the main window: end of message to QUIT",
                 fmt(end_p, "ms", 2), "swaks, same bytes: " + fmt(end_s, "ms", 2), r_end, "≤ 1.0x"))


def bench_browser(rows, mapped_idle):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1",
               QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-background-networking "
                                          "--host-resolver-rules=\"MAP * ~NOTFOUND , EXCLUDE 127.0.0.1\"")
    env["XDG_CONFIG_HOME"] = fresh_config("browser", {})
    rounds = 1 if QUICK else 3
    before, opened, closed, mapped_before = [], [], [], []
    for _ in range(rounds):
        out = subprocess.run([f"{BIN}/bench_browser", "3000"], env=env, check=True, capture_output=True,
                             text=True).stdout.split("\n")
        marks = {line.split()[0]: line.split() for line in out if line}
        before.append(int(marks["before"][2]) / 1024)
        opened.append(int(marks["open"][2]) / 1024)
        closed.append(int(marks["closed"][2]) / 1024)
        mapped_before.append(marks["before"][4] == "1")
    added = [o - b for o, b in zip(opened, before)]
    remains = [c - b for c, b in zip(closed, before)]
    rows.append(("6. Browser window: web engine mapped before it opens",
                 f"in-process: {'yes' if any(mapped_before) else 'no'}; idle program (3.): "
                 f"{'yes' if mapped_idle else 'no'}", "—", None, "no"))
    rows.append(("6. Browser window: RSS added by opening it", fmt(added, "MiB"),
                 "RSS before: " + fmt(before, "MiB"), None, "—"))
    rows.append(("6. Browser window: RSS that remains after closing it", fmt(remains, "MiB"), "—", None, "—"))


# ---------------------------------------------------------------------------------------------- main

def maps_graphics(pid):
    """Graphics libraries (Qt Gui, Widgets, X11, OpenGL) mapped into the process."""
    with open(f"/proc/{pid}/maps") as f:
        names = {line.split()[-1] for line in f if "/" in line}
    return sorted(n for n in names if any(g in os.path.basename(n) for g in
                                          ("Qt6Gui", "Qt6Widgets", "libX11", "libxcb", "libGL", "libEGL")))


def bench_service(nginx, rows):
    rounds = 1 if QUICK else 3
    host = f"127.0.0.1:{nginx.port}"
    rss_s, rss_b, ratios, mapped = [], [], [], []
    for i in range(rounds):
        config = fresh_config(f"service{i}")
        env = dict(os.environ, XDG_CONFIG_HOME=config, NETQUILL_IP_HOST=host)
        env.pop("DISPLAY", None)
        service = start_idle([f"{BIN}/netquill-monitor"], env)
        bare = start_idle([f"{BIN}/bench_barecore", nginx.url], env)
        time.sleep(10)
        rss_s.append(rss_kb(service.pid) / 1024)
        rss_b.append(rss_kb(bare.pid) / 1024)
        ratios.append(rss_s[-1] / rss_b[-1])
        mapped += maps_graphics(service.pid)
        stop(service)
        stop(bare)
    rows.append(("8. Service: idle RSS 10 s after start", fmt(rss_s, "MiB"),
                 "bare QCoreApplication, fetch once a minute: " + fmt(rss_b, "MiB"), ratios, "≤ 1.2x"))
    rows.append(("8. Service: graphics libraries mapped", ", ".join(sorted(set(mapped))) or "none", "—", [], "none"))
    # A lookup from the command line: the whole process, beside curl's whole process.
    count = 10 if QUICK else 30
    config = fresh_config("service-print")
    env = dict(os.environ, XDG_CONFIG_HOME=config, NETQUILL_IP_HOST=host)
    prints, curls, ratio = [], [], []
    for _ in range(3 if QUICK else 5):
        p = []
        for _ in range(count // 5 or 1):
            t0 = time.perf_counter()
            subprocess.run([f"{BIN}/netquill-monitor", "--print"], env=env, check=True, capture_output=True)
            p.append((time.perf_counter() - t0) * 1e3)
        c = run_curls(nginx.url, len(p))
        prints += p
        curls += c
        ratio.append(statistics.median(p) / statistics.median(c))
    rows.append((f"8. Service: `netquill-monitor --print`, process start to exit ({len(prints)} runs)",
                 fmt(prints, "ms", 1), f"curl process, same page ({len(curls)} runs): " + fmt(curls, "ms", 1), ratio,
                 "—"))


def bench_channels(smtp, rows):
    """Lookups that find a change through the model, with four web channels set up against none: the CPU
    time of the thread the window runs on, per cycle, and the order of the status texts."""
    rounds, cycles = (2, 20) if QUICK else (5, 40)
    page = ArrivalServer(alternate=True)  # every lookup a change
    peer = ArrivalServer()  # the channels' service: 200 at once
    base = f"http://127.0.0.1:{peer.port}"
    channels = json.dumps([{"name": "hook", "kind": "webhook", "url": base + "/hook"},
                           {"name": "nt", "kind": "ntfy", "url": base, "topic": "home"},
                           {"name": "go", "kind": "gotify", "url": base},
                           {"name": "beat", "kind": "ping", "url": base + "/ping"}])
    # Secrets as the service reads them (a keyring would be read once per channel, then known the same way).
    secrets = fresh_config("channels-secrets")
    for name in ("hook", "nt", "go", "beat"):
        with open(os.path.join(secrets, "channel-" + name), "w") as f:
            f.write("token" if name == "go" else "")
    mail = {"strServer": "127.0.0.1", "strPort": str(smtp.port), "strEmailTo": "owner@example.com",
            "strEmailFrom": "netquill@example.com"}

    def run(with_channels, mail_on):
        config = fresh_config("channels", dict(mail, OldExternal="192.0.2.1", OldInternal="192.0.2.1",
                                               emailNotify="1" if mail_on else "0"))
        env = dict(os.environ, XDG_CONFIG_HOME=config, XDG_STATE_HOME=config, QT_QPA_PLATFORM="offscreen",
                   NETQUILL_IP_HOST=f"127.0.0.1:{page.port}", CREDENTIALS_DIRECTORY=secrets)
        before = len(peer.arrivals)
        # One cycle more: the first starts the network threads and is left out.
        out = subprocess.run([f"{BIN}/bench_channels", str(cycles + 1)] + ([channels] if with_channels else []),
                             env=env, check=True, capture_output=True, text=True, timeout=120).stdout.split("\n")
        expected = 4 * (cycles + 1) if with_channels else 0
        if len(peer.arrivals) - before != expected:
            raise RuntimeError(f"the peer saw {len(peer.arrivals) - before} requests, not {expected}")
        cpu = [int(line.split()[2]) / 1e3 for line in out if line.startswith("cycle ") and line.split()[1] != "0"]
        texts = collections.defaultdict(list)
        for line in out:
            if line.startswith("status "):
                _, n, text = line.split(" ", 2)
                texts[int(n)].append(text)
        return cpu, [tuple(texts[n]) for n in range(1, cycles + 1)]

    cpu_n, cpu_c, ratio, mail_n, mail_c, ratio_mail, orders = [], [], [], [], [], [], set()
    for _ in range(rounds):
        n, _ = run(False, False)
        c, _ = run(True, False)
        cpu_n += n
        cpu_c += c
        ratio.append(statistics.median(c) / statistics.median(n))
        n, order_n = run(False, True)
        c, order_c = run(True, True)
        mail_n += n
        mail_c += c
        ratio_mail.append(statistics.median(c) / statistics.median(n))
        orders |= {("none", o) for o in order_n} | {("four", o) for o in order_c}
    page.close()
    peer.close()
    rows.append((f"9. Channels: the window's thread busy per lookup that finds a change (its CPU time, "
                 f"{len(cpu_c)} cycles), four web channels", fmt(cpu_c, "ms", 2),
                 "no channels: " + fmt(cpu_n, "ms", 2), ratio, "≤ 1.05x"))
    rows.append((f"9. Channels: the same with mail on ({len(mail_c)} cycles)", fmt(mail_c, "ms", 2),
                 "no channels: " + fmt(mail_n, "ms", 2), ratio_mail, "—"))
    sequences = {o for _, o in orders}
    for who, order in sorted(orders):
        print(f"status order, {who} channels: {' → '.join(order)}")
    shown = " → ".join(f"“{t}”" for t in next(iter(sequences))) if len(sequences) == 1 else "—"
    rows.append(("9. Channels: order of the status texts in a change cycle with mail on, four channels "
                 "against none", "same" if len(sequences) == 1 else "differs", shown, None, "same"))


def ratio_text(ratios):
    if not ratios:
        return "—"
    med, lo, hi = stats(ratios)
    if len(ratios) == 1:
        return f"{med:.2f}x"
    return f"{med:.2f}x ({lo:.2f}–{hi:.2f})"


def main():
    os.makedirs(WORK, exist_ok=True)
    rows = []
    xvfb = Xvfb()
    nginx = Nginx()
    smtp = SmtpServer()
    started = time.time()
    try:
        for name, step in [("start-up", lambda: bench_startup(xvfb, rows)),
                           ("lookup", lambda: bench_lookup(nginx, rows)),
                           ("e-mail", lambda: (bench_smtp(smtp, rows), bench_program_mail(xvfb, smtp, rows))),
                           ("memory", lambda: rows.append(("mapped", bench_memory(xvfb, nginx, rows)))),
                           ("cpu", lambda: bench_cpu(xvfb, nginx, rows)),
                           ("growth", lambda: bench_growth(xvfb, nginx, smtp, rows)),
                           ("service", lambda: bench_service(nginx, rows)),
                           ("channels", lambda: bench_channels(smtp, rows)),
                           ("browser", None)]:
            if ONLY and name not in ONLY:
                continue
            print(f"== {name}", flush=True)
            if step is None and ONLY and "memory" not in ONLY:
                bench_browser(rows, False)
            elif step is None:
                mapped = [r for r in rows if r[0] == "mapped"][0][1]
                rows[:] = [r for r in rows if r[0] != "mapped"]
                bench_browser(rows, mapped)
            else:
                step()
    finally:
        smtp.close()
        nginx.close()
        xvfb.close()
    rows[:] = [r for r in rows if r[0] != "mapped"]  # left when memory ran without browser
    stamp = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    lines = [f"Last run: {stamp}, {time.time() - started:.0f} s, {os.cpu_count()} cores"
             f"{' (quick)' if QUICK else ''}.", "",
             "| Benchmark | Netquill: median (min–max) | Reference in the same run: median (min–max) "
             "| Ratio: median (min–max) | Target |", "|---|---|---|---|---|"]
    for name, prog, ref, ratios, target in sorted(rows, key=lambda r: r[0][:2]):
        lines.append(f"| {name} | {prog} | {ref} | {ratio_text(ratios)} | {target} |")
    table = "\n".join(lines)
    print(table)
    readme = os.path.join(HERE, "README.md")
    if os.path.exists(readme) and not ONLY:
        text = open(readme).read()
        head, sep, tail = text.partition("<!-- figures -->")
        _, sep2, tail = tail.partition("<!-- /figures -->")
        if sep and sep2:
            with open(readme, "w") as f:
                f.write(head + "<!-- figures -->\n" + table + "\n<!-- /figures -->" + tail)


if __name__ == "__main__":
    main()
