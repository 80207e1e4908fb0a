#!/usr/bin/env python3
"""Checks on the installed tree and on the Debian package.

package_test.py install <build dir>
    Installs the build into a temporary DESTDIR, validates the desktop entry and the AppStream
    metadata, and starts the installed program the way the menu does, under Xvfb; installs the service
    under a home folder's ~/.local too. The systemd user unit of each is checked with systemd-analyze.
package_test.py deb <build dir> <package version>
    Builds the .deb with CPack and inspects its contents, control fields and binaries.
"""
import ctypes
import glob
import http.server
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

APP_ID = "com.example.netquill.Netquill"
PRIVATE = "lib/netquill"
ICON_SIZES = (16, 32, 48, 64, 128, 256)
BESIDE_PROGRAM = ("netquill", "netquill-htmlbody", "libnetquill_website.so", "Help.rtf")
# The service's package: what it holds, and the graphics libraries it must never depend on.
MONITOR_FILES = ("lib/netquill/netquill-monitor", "lib/netquill/netquill-htmlbody", "lib/netquill/netquill-launcher",
                 "lib/systemd/user/netquill-monitor.service", "share/man/man1/netquill-monitor.1.gz",
                 "share/doc/netquill-monitor/copyright")
GRAPHICS = re.compile(r"libqt6(gui|widgets|opengl|webengine)|libx11|libxcb|libgl|qt6-qpa")
ADDRESS = "203.0.113.7"

failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        failures.append(message)
    return condition


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=300, **kwargs)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def dynamic_search_paths(path):
    out = run(["readelf", "-d", path]).stdout
    return re.findall(r"\((?:RPATH|RUNPATH)\).*\[(.*)\]", out)


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def check_binaries(folder, what):
    for name in ("netquill", "netquill-htmlbody", "libnetquill_website.so"):
        path = os.path.join(folder, name)
        check(is_elf(path), f"{what}: {name} is an ELF file")
        check(dynamic_search_paths(path) == [], f"{what}: {name} has no RPATH/RUNPATH")


class Watch:
    """Reports whether a file's content was read (inotify IN_ACCESS) since the watch began."""

    IN_ACCESS = 0x1

    def __init__(self, path):
        self.libc = ctypes.CDLL("libc.so.6", use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, path.encode(), self.IN_ACCESS) < 0:
            raise OSError(ctypes.get_errno(), "inotify on " + path)
        self.read = False

    def poll(self):
        try:
            data = os.read(self.fd, 4096)
        except BlockingIOError:
            return self.read
        offset = 0
        while offset + 16 <= len(data):
            _, mask, _, length = struct.unpack_from("iIII", data, offset)
            self.read = self.read or bool(mask & self.IN_ACCESS)
            offset += 16 + length
        return self.read

    def close(self):
        os.close(self.fd)


class AddressPage(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = f"<html><head><title>ip</title></head><body>{ADDRESS}</body></html>".encode()
        self.send_response(200 if self.path == "/extras/GetExternalIP.asp" else 404)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    if not number:
        xvfb.kill()
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + number


def window_names(display):
    out = run(["xwininfo", "-root", "-tree", "-display", display]).stdout
    return re.findall(r'^\s+0x[0-9a-f]+ "([^"]*)"', out, re.M)


def autostart_exec(config):
    path = os.path.join(config, "autostart", "Netquill.desktop")
    if not os.path.exists(path):
        return None
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("Exec="):
                return line[len("Exec="):].strip()
    return None


def start_program(command, work, port, display, path_prefix, help_file):
    """Starts the program with "Run at startup" and the help window on, ends it with SIGTERM; returns what it
    showed."""
    config = os.path.join(work, "config")
    os.makedirs(os.path.join(config, "Netquill"))
    with open(os.path.join(config, "Netquill", "Netquill.conf"), "w") as f:
        f.write("[Settings]\nstartup=1\nshowHelp=1\n")
    env = dict(os.environ, XDG_CONFIG_HOME=config, HOME=work, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               NETQUILL_IP_HOST=f"127.0.0.1:{port}", PATH=path_prefix + os.pathsep + os.environ["PATH"])
    watch = Watch(help_file)
    program = subprocess.Popen(command, cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seen = {}
    deadline = time.monotonic() + 30
    try:
        while time.monotonic() < deadline and program.poll() is None:
            with open(os.path.join(config, "Netquill", "Netquill.conf"), encoding="utf-8") as f:
                settings = f.read()
            seen = {
                "help window": "Readme/Help" in window_names(display),
                "help file read": watch.poll(),
                "external address": re.search(r"^OldExternal=(.*)$", settings, re.M),
            }
            if all(seen.values()):
                break
            time.sleep(0.5)
        time.sleep(2)  # it must stay up after its start, not just reach it
        seen["alive"] = program.poll() is None
        seen["autostart"] = autostart_exec(config)
    finally:
        watch.close()
        program.terminate()
        try:
            _, err = program.communicate(timeout=10)
            seen["clean exit"] = program.returncode == 0
        except subprocess.TimeoutExpired:
            program.kill()
            _, err = program.communicate()
    if not seen.get("alive"):
        print(err.decode(errors="replace")[-2000:])
    return seen


def check_run(what, seen, command):
    check(seen.get("alive", False), f"{what}: the program starts and keeps running")
    check(seen.get("clean exit", False), f"{what}: SIGTERM ends the program with status 0")
    check(seen.get("help window", False), f"{what}: the help window 'Readme/Help' is open")
    check(seen.get("help file read", False), f"{what}: Help.rtf beside the program was read")
    found = seen.get("external address")
    check(bool(found) and found.group(1) == ADDRESS,
          f"{what}: the page parser beside the program gave the external address {ADDRESS}")
    # The load writes the entry back: an installed copy names the command on the PATH, which outlives an
    # upgrade, not its private folder; a build names its own program.
    exec_line = seen.get("autostart")
    check(exec_line == command, f"{what}: Run at startup writes the log-on entry Exec={command} (found {exec_line})")


def unit_exec_start(unit):
    with open(unit, encoding="utf-8") as f:
        found = re.findall(r"^ExecStart=(.*)$", f.read(), re.M)
    return found[0] if len(found) == 1 else None


def verify_unit(unit, env):
    """systemd-analyze verify as the user manager would load the unit: (passed, what it said)."""
    result = run(["systemd-analyze", "--user", "--man=no", "verify", unit], env=env)
    return result.returncode == 0 and not (result.stdout + result.stderr).strip(), \
        (result.stdout + result.stderr).strip()


def check_unit(what, unit, program, home, root=""):
    """The user unit at `unit` starts `program` (an absolute path, found under `root` when the tree is
    not installed in place), lies on a user manager's search path for the user of `home`, and passes
    systemd-analyze verify."""
    if not check(os.path.isfile(unit), f"{what}: the user unit is at {unit}"):
        return
    exec_start = unit_exec_start(unit)
    check(exec_start == program, f"{what}: ExecStart={program} (found {exec_start})")
    if not shutil.which("systemd-analyze"):
        print(f"SKIP {what}: systemd-analyze is not installed (package systemd, listed in scripts/deps.sh), "
              "so the unit's search path and syntax are not checked", flush=True)
        return
    runtime = tempfile.mkdtemp(prefix="netquill-runtime-")
    try:
        # The defaults of a user's session; the test's own environment may name other folders.
        env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
        env.update(HOME=home, XDG_RUNTIME_DIR=runtime)
        paths = run(["systemd-analyze", "--user", "unit-paths"], env=env).stdout.split()
        folder = os.path.dirname(unit)[len(root):]
        check(folder in paths, f"{what}: {folder} is on the user unit search path")
        # Verified where the program is: under the DESTDIR or unpacked package, ExecStart leads there.
        checked = os.path.join(runtime, "unit")
        os.mkdir(checked)
        with open(unit, encoding="utf-8") as f:
            text = f.read()
        for name, target in (("present", root + program), ("missing", root + program + "-missing")):
            os.makedirs(os.path.join(checked, name))
            copy = os.path.join(checked, name, "netquill-monitor.service")
            with open(copy, "w", encoding="utf-8") as f:
                f.write(text.replace("ExecStart=" + program + "\n", "ExecStart=" + target + "\n"))
            passed, said = verify_unit(copy, env)
            if name == "present":
                check(passed, f"{what}: systemd-analyze verify accepts the unit {said}")
            else:
                # Without this, a verify that does not look at ExecStart would pass any unit.
                check(not passed and "-missing" in said,
                      f"{what}: systemd-analyze verify refuses the unit with a missing program ({said})")
    finally:
        shutil.rmtree(runtime, ignore_errors=True)


def test_install(build):
    work = tempfile.mkdtemp(prefix="netquill-install-")
    try:
        destdir = os.path.join(work, "destdir")
        result = run(["cmake", "--install", build, "--prefix", "/usr/local"], env=dict(os.environ, DESTDIR=destdir))
        if not check(result.returncode == 0, "cmake --install into a DESTDIR"):
            print(result.stdout, result.stderr)
            return
        root = os.path.join(destdir, "usr/local")
        private = os.path.join(root, PRIVATE)
        for name in BESIDE_PROGRAM:
            check(os.path.isfile(os.path.join(private, name)), f"{PRIVATE}/{name} installed")
        for name in ("netquill", "netquill-htmlbody"):
            check(os.access(os.path.join(private, name), os.X_OK), f"{PRIVATE}/{name} is executable")
        for program in ("netquill", "netquill-monitor"):
            link = os.path.join(root, "bin", program)
            check(os.path.islink(link) and not os.path.isabs(os.readlink(link)), f"bin/{program} is a relative link")
            check(os.path.realpath(link) == os.path.realpath(os.path.join(private, program)),
                  f"bin/{program} leads to the program in its private folder")
        for name in MONITOR_FILES:
            check(os.path.isfile(os.path.join(root, name)), f"{name} installed")
        result = run([os.path.join(root, "bin/netquill-monitor"), "--version"])
        check(result.returncode == 0 and "netquill-monitor" in result.stdout,
              "the installed netquill-monitor runs: " + (result.stdout + result.stderr).strip())
        check_binaries(private, "installed")
        home = os.path.join(work, "home")
        os.mkdir(home)
        check_unit("/usr/local", os.path.join(root, "lib/systemd/user/netquill-monitor.service"),
                   "/usr/local/bin/netquill-monitor", home, destdir)
        with open(os.path.join(build, "install_manifest.txt"), encoding="utf-8") as f:
            check("/usr/local/lib/systemd/user/netquill-monitor.service" in f.read().split("\n"),
                  "install_manifest.txt lists the user unit, for the uninstall")

        # A user's own install: the prefix given only now, the unit where the user manager looks.
        local = os.path.join(home, ".local")
        result = run(["cmake", "--install", build, "--prefix", local, "--component", "monitor"],
                     env=dict(os.environ, HOME=home))
        if check(result.returncode == 0, "cmake --install --prefix ~/.local --component monitor"):
            check_unit("~/.local", os.path.join(local, "share/systemd/user/netquill-monitor.service"),
                       os.path.join(local, "bin/netquill-monitor"), home)
        else:
            print(result.stdout, result.stderr)

        desktop = os.path.join(root, "share/applications", APP_ID + ".desktop")
        result = run(["desktop-file-validate", desktop])
        check(result.returncode == 0 and not result.stdout.strip(),
              "desktop-file-validate accepts the desktop entry " + (result.stdout + result.stderr).strip())
        with open(desktop, encoding="utf-8") as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        check("Network" in entry.get("Categories", "").split(";"), "desktop entry: Categories has Network")
        check(entry.get("Icon") == APP_ID, "desktop entry: Icon names the installed icon")
        metainfo = os.path.join(root, "share/metainfo", APP_ID + ".metainfo.xml")
        result = run(["appstreamcli", "validate", "--no-net", metainfo])
        check(result.returncode == 0, "appstreamcli validate --no-net accepts the metadata\n" + result.stdout)
        with open(metainfo, encoding="utf-8") as f:
            check(re.search(r"<screenshot[^>]*>.*<image>https://[^<]+\.png</image>", f.read(), re.S),
                  "metadata: a screenshot image is referenced")
        for size in ICON_SIZES:
            icon = os.path.join(root, f"share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png")
            check(os.path.exists(icon) and png_size(icon) == (size, size), f"icon {size}x{size} is {size} pixels")
        check(os.path.isfile(os.path.join(root, "share/man/man1/netquill.1.gz")), "manual page installed")

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), AddressPage)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        xvfb, display = start_xvfb()
        try:
            # As the menu starts it: the desktop entry's Exec line, with the installed bin on the PATH.
            seen = start_program(shlex.split(entry["Exec"]), os.path.join(work, "installed"),
                                 server.server_address[1], display, os.path.join(root, "bin"),
                                 os.path.join(private, "Help.rtf"))
            check_run("installed", seen, os.path.join(root, "bin/netquill"))
            # The same program run from the build registers the build's program instead.
            built = os.path.join(build, "bin/netquill")
            seen = start_program([built], os.path.join(work, "built"), server.server_address[1], display,
                                 os.path.join(root, "bin"), os.path.join(build, "bin/Help.rtf"))
            check_run("build", seen, built)
        finally:
            xvfb.terminate()
            xvfb.wait()
            server.shutdown()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def deb_entries(deb):
    """The package's files: name -> (mode, owner, link target)."""
    entries = {}
    for line in run(["dpkg-deb", "--contents", deb]).stdout.splitlines():
        fields = line.split(None, 5)
        name = fields[5].split(" -> ")
        entries[name[0].rstrip("/")] = (fields[0], fields[1], name[1] if len(name) > 1 else None)
    return entries


def test_deb(build, version):
    work = tempfile.mkdtemp(prefix="netquill-deb-")
    try:
        result = run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", work],
                     cwd=build)
        if not check(result.returncode == 0, "cpack builds the package"):
            print(result.stdout, result.stderr)
            return
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        deb = os.path.join(work, f"netquill_{version}_{arch}.deb")
        monitor = os.path.join(work, f"netquill-monitor_{version}_{arch}.deb")
        if not check(os.path.isfile(deb) and os.path.isfile(monitor), "package files netquill and netquill-monitor"):
            print(glob.glob(os.path.join(work, "*.deb")))
            return
        entries = deb_entries(deb)
        expected = [f"./usr/{PRIVATE}/{name}" for name in BESIDE_PROGRAM if name != "netquill-htmlbody"] + [
            f"./usr/share/applications/{APP_ID}.desktop",
            f"./usr/share/metainfo/{APP_ID}.metainfo.xml",
            "./usr/share/man/man1/netquill.1.gz",
            "./usr/share/doc/netquill/copyright",
            "./usr/share/doc/netquill/changelog.Debian.gz",
        ] + [f"./usr/share/icons/hicolor/{n}x{n}/apps/{APP_ID}.png" for n in ICON_SIZES]
        for name in expected:
            check(name in entries, "package holds " + name)
        link = entries.get("./usr/bin/netquill")
        check(link is not None and link[0].startswith("l") and link[2] == "../lib/netquill/netquill",
              "package holds ./usr/bin/netquill -> ../lib/netquill/netquill")
        check(all(owner == "root/root" for _, owner, _ in entries.values()),
              "every file belongs to root")
        check(not [n for n in entries if "/build" in n or n.startswith("./usr/local")],
              "nothing from the build tree or /usr/local")

        depends = run(["dpkg-deb", "-f", deb, "Depends"]).stdout
        for package in ("libqt6widgets6", "libqt6network6", "libqt6webenginewidgets6", "qt6-qpa-plugins", "libc6",
                        "libqt6keychain1", f"netquill-monitor (= {version})"):
            check(package in depends, f"Depends names {package}")

        # The service's package: installable where there is no graphics library at all.
        monitor_entries = deb_entries(monitor)
        for name in MONITOR_FILES:
            check("./usr/" + name in monitor_entries, "netquill-monitor holds ./usr/" + name)
        link = monitor_entries.get("./usr/bin/netquill-monitor")
        check(link is not None and link[2] == "../lib/netquill/netquill-monitor",
              "netquill-monitor holds ./usr/bin/netquill-monitor -> ../lib/netquill/netquill-monitor")
        files = lambda listing: {name for name, (mode, _, _) in listing.items() if not mode.startswith("d")}
        check(not files(monitor_entries) & files(entries), "the two packages share no file")
        monitor_depends = run(["dpkg-deb", "-f", monitor, "Depends"]).stdout
        check("libqt6core6" in monitor_depends and not GRAPHICS.search(monitor_depends),
              "netquill-monitor depends on no graphics library: " + monitor_depends.strip())
        result = run(["lintian", "--fail-on", "error,warning", monitor])
        check(result.returncode == 0, "lintian finds no errors or warnings in netquill-monitor\n" + result.stdout)

        unpacked = os.path.join(work, "unpacked")
        run(["dpkg-deb", "-x", deb, unpacked])
        run(["dpkg-deb", "-x", monitor, unpacked])
        private = os.path.join(unpacked, "usr", PRIVATE)
        check_binaries(private, "package")
        home = os.path.join(work, "home")
        os.mkdir(home)
        check_unit("package", os.path.join(unpacked, "usr/lib/systemd/user/netquill-monitor.service"),
                   "/usr/bin/netquill-monitor", home, unpacked)
        result = run([os.path.join(unpacked, "usr/bin/netquill-monitor"), "--version"])
        upstream = version.rsplit("-", 1)[0]
        check(result.returncode == 0 and result.stdout == f"netquill-monitor {upstream}\n",
              f"netquill-monitor --version prints the package's version {upstream}: {result.stdout.strip()}")
        for name in ("netquill", "netquill-htmlbody", "libnetquill_website.so", "netquill-monitor",
                     "netquill-launcher"):
            sections = run(["readelf", "-S", os.path.join(private, name)]).stdout
            check(".symtab" not in sections and ".debug_info" not in sections, f"package: {name} is stripped")

        result = run(["lintian", "--fail-on", "error,warning", deb])
        check(result.returncode == 0, "lintian finds no errors or warnings\n" + result.stdout)
        print(result.stdout)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if sys.argv[1] == "install":
        test_install(os.path.abspath(sys.argv[2]))
    else:
        test_deb(os.path.abspath(sys.argv[2]), sys.argv[3])
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
