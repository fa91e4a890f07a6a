"""The Windows installer, tried under Wine as a site's deployment script uses it.

Makes the installer with CPack from a finished Windows build, installs it
silently into a fresh Wine prefix (the default folder in the 64-bit Program
Files, then again over it into another folder given by /D=), and checks what
the machine got: the files, the Start menu and desktop shortcuts, the Apps &
Features entry, each program's version resource (read from the PE file), the
firewall commands the installer ran as far as Wine shows them, and that the
installed orven-setup.exe starts from its folder, opens its sockets and lists
the devices of the installed orven-devsim.exe. A silent uninstall while the
installed orven-cli.exe runs must refuse (exit code 2) and remove nothing;
then a silent uninstall must leave nothing of ours behind.

Runs inside a wine session (tools/wine-session): the private network
namespace, so the programs' sockets reach nothing outside. Every Wine run
is bounded in time.

    installer_test.py CPACK BUILD_DIR SOURCE_DIR VERSION
"""
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import isolation  # noqa: E402
import pe_resources  # noqa: E402

isolation.require()  # the installed programs open their sockets

CPACK, BUILD, SOURCE, VERSION = sys.argv[1:5]
NAME = "ORVEN网络设备现场设置程序"
DOCTOR = "ORVEN网络诊断"  # the network check's Start menu entry
UNINST_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\orven-setup"
WORK = os.path.join(BUILD, "installer-test")
PREFIX = os.path.join(WORK, "wine")
failures = []


def fail(message):
    print("FAIL:", message, flush=True)
    failures.append(message)


def step(message):
    print(f"[{time.strftime('%H:%M:%S')}] {message}", flush=True)


ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all",
           # No menu entries in the Linux desktop of whoever runs the test.
           WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")


def run(args, seconds, **kw):
    """A command with our prefix, ended after `seconds`."""
    return subprocess.run(["timeout", "-k", "10", str(seconds)] + args, env=kw.pop("env", ENV),
                          capture_output=True, **kw)


def settle():
    """Waits for every program of the prefix to end (the uninstaller runs a copy of itself)."""
    run(["wineserver", "-w"], 180)


def unix(path):
    """The Unix path of a path on the prefix's drive C:."""
    assert path[:3].upper() == "C:\\"
    return os.path.join(PREFIX, "drive_c", *path[3:].split("\\"))


def reg_query(key):
    """The values of a registry key as {name: text}, or None when there is no such key."""
    r = run(["wine", "reg", "query", key], 120)
    if r.returncode != 0:
        return None
    values = {}
    for line in r.stdout.decode("gbk", "replace").splitlines():
        m = re.match(r"\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
        if m:
            values[m.group(1)] = m.group(3).strip()
    return values


def files_under(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder).replace("/", "\\")
                  for d, _, names in os.walk(folder) for f in names)


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)

# ---- the installer and the folder it should put down ------------------------
step("making the installer")
r = subprocess.run([CPACK, "-G", "NSIS", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                    "-B", os.path.join(WORK, "out")], capture_output=True, timeout=900)
installer = os.path.join(WORK, "out", f"orven-setup-{VERSION}-windows-x64.exe")
if r.returncode != 0 or not os.path.isfile(installer):
    print(r.stdout.decode(errors="replace"), r.stderr.decode(errors="replace"))
    sys.exit(f"FAIL: no {installer}")
step(f"installer: {os.path.getsize(installer)} bytes")
subprocess.run(["cmake", "--install", BUILD, "--prefix", os.path.join(WORK, "folder")],
               check=True, capture_output=True, timeout=300)
expected = sorted(files_under(os.path.join(WORK, "folder")) + ["Uninstall.exe", "firewall-rules.log"])

step("making a fresh Wine prefix")
run(["wineboot", "--init"], 600)
settle()
if not os.path.isfile(os.path.join(PREFIX, "system.reg")):
    sys.exit("FAIL: the Wine prefix was not made")

MENU_DIR = unix(r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs")
DESKTOP_DIR = unix(r"C:\users\Public\Desktop")
START_MENU = f"{MENU_DIR}/{NAME}.lnk"
DESKTOP = f"{DESKTOP_DIR}/{NAME}.lnk"


def shortcuts():
    return {d: set(files_under(d)) if os.path.isdir(d) else set() for d in (MENU_DIR, DESKTOP_DIR)}


shortcuts_before = shortcuts()
DEFAULT_DIR = r"C:\Program Files\orven-setup"
# (NSIS takes /D= unquoted; Wine would quote an argument with a space.)
OTHER_DIR = r"C:\ORVEN现场工具"

# ---- silent install, then again over it into another folder ------------------
# The first install meets a netsh that fails (a program that rejects the
# arguments stands in for it): the install must finish all the same and
# leave the failure in its log. The second meets Wine's own netsh.
netsh = unix(r"C:\windows\system32\netsh.exe")
shutil.copy(netsh, netsh + ".wine")
shutil.copy(os.path.join(BUILD, "bin", "orven-cli.exe"), netsh)
step("installing silently into the default folder, with a failing netsh")
r = run(["wine", installer, "/S"], 300, env=dict(ENV, WINEDLLOVERRIDES=ENV["WINEDLLOVERRIDES"] + ";netsh.exe=n"))
settle()
os.replace(netsh + ".wine", netsh)
if r.returncode != 0:
    fail(f"the silent install ended with {r.returncode}")
if not os.path.isfile(unix(DEFAULT_DIR) + "/orven-setup.exe"):
    fail(f"nothing in {DEFAULT_DIR} (the 64-bit Program Files) after the silent install")
if os.path.exists(unix(r"C:\Program Files (x86)\orven-setup")):
    fail("installed into the 32-bit Program Files")


def firewall_log(folder):
    path = os.path.join(folder, "firewall-rules.log")
    return open(path, "rb").read().decode("utf-16") if os.path.isfile(path) else ""


def firewall_commands(folder):
    return [f'netsh advfirewall firewall add rule name="{NAME} ({program}.exe)" dir=in action=allow '
            f'program="{folder}\\{program}.exe" protocol=UDP localport=60080,60081 profile=any enable=yes'
            for program in ("orven-setup", "orven-cli")]


log = firewall_log(unix(DEFAULT_DIR))
if not all(c in log for c in firewall_commands(DEFAULT_DIR)) or "exit code: 0" in log \
        or "FAILED: the rules above were not all added." not in log:
    fail(f"the failed firewall commands are not in the install's log:\n{log}")

step("installing again, over the first, into another folder (/D=)")
r = run(["wine", installer, "/S", "/D=" + OTHER_DIR], 300)
settle()
if r.returncode != 0:
    fail(f"the second silent install ended with {r.returncode}")
if os.path.exists(unix(DEFAULT_DIR)):
    fail(f"the earlier install in {DEFAULT_DIR} was not removed: {files_under(unix(DEFAULT_DIR))}")
folder = unix(OTHER_DIR)

# ---- what the machine got ---------------------------------------------------------
got = files_under(folder) if os.path.isdir(folder) else []
if got != expected:
    fail(f"installed files differ: missing {sorted(set(expected) - set(got))}, "
         f"unexpected {sorted(set(got) - set(expected))}")

added = {d: sorted(now - shortcuts_before[d]) for d, now in shortcuts().items()}
if added != {MENU_DIR: sorted([NAME + ".lnk", DOCTOR + ".lnk"]), DESKTOP_DIR: [NAME + ".lnk"]}:
    fail(f"shortcuts made: {added}")
doctor_lnk = f"{MENU_DIR}/{DOCTOR}.lnk"
if os.path.isfile(doctor_lnk):
    link = open(doctor_lnk, "rb").read()
    # cmd.exe /c ""...\orven-cli.exe" doctor & pause": the arguments are stored as UTF-16.
    if "orven-cli.exe\" doctor & pause".encode("utf-16-le") not in link:
        fail(f"{doctor_lnk} does not run orven-cli doctor and wait for a key")
for lnk in (START_MENU, DESKTOP):
    if not os.path.isfile(lnk):
        fail(f"no shortcut {lnk}")
    elif (OTHER_DIR + r"\orven-setup.exe").encode("gbk") not in open(lnk, "rb").read():  # its ANSI path
        fail(f"{lnk} does not lead to {OTHER_DIR}\\orven-setup.exe")

values = reg_query(UNINST_KEY)
if values is None:
    fail(f"no key {UNINST_KEY}")
else:
    want = {"DisplayName": NAME, "DisplayVersion": VERSION, "Publisher": "ORVEN",
            "DisplayIcon": OTHER_DIR + r"\orven-setup.exe,0", "InstallLocation": OTHER_DIR,
            "UninstallString": f'"{OTHER_DIR}\\Uninstall.exe"'}
    for name, value in want.items():
        if values.get(name) != value:
            fail(f"{UNINST_KEY} {name} is {values.get(name)!r}, not {value!r}")
    size = int(values.get("EstimatedSize", "0"), 0)
    if not 1000 < size < 500000:
        fail(f"EstimatedSize {size} KiB is implausible")

copyright = next(line for line in open(os.path.join(SOURCE, "packaging", "copyright"), encoding="utf-8")
                 if line.startswith("Copyright: "))[len("Copyright: "):].strip()
for program in ("orven-setup", "orven-cli", "orven-devsim"):
    info = pe_resources.read(os.path.join(folder, program + ".exe"))
    v = info["version"] or {}
    s = v.get("strings", {})
    checks = {"fixed file version": v.get("file_version"), "fixed product version": v.get("product_version"),
              "FileVersion": s.get("FileVersion"), "ProductVersion": s.get("ProductVersion")}
    for what, value in checks.items():
        if value != VERSION:
            fail(f"{program}.exe: {what} is {value!r}")
    if s.get("OriginalFilename") != program + ".exe" or s.get("ProductName") != NAME \
            or s.get("CompanyName") != "ORVEN" or copyright not in s.get("LegalCopyright", "") \
            or not s.get("FileDescription"):
        fail(f"{program}.exe: version strings {s}")
    manifest = info["manifest"] or ""
    if 'level="asInvoker"' not in manifest or "PerMonitorV2" not in manifest or "supportedOS" not in manifest:
        fail(f"{program}.exe: manifest {manifest!r}")
    want_icons = [16, 24, 32, 48, 256] if program == "orven-setup" else []
    if sorted(info["icon_sizes"]) != want_icons:
        fail(f"{program}.exe: icon sizes {info['icon_sizes']}")

# Wine's netsh accepts the firewall commands and does nothing with them (Wine
# has no firewall): what can be checked is the commands and their outcome.
log = firewall_log(folder)
if not all(c in log for c in firewall_commands(OTHER_DIR)) or log.count("exit code: 0") != 2 or "FAILED" in log:
    fail(f"the firewall commands are not in the log, or did not succeed:\n{log}")


# ---- the installed program beside the installed simulator -----------------------
def screen(display, box):
    """The pixels of box (x, y, w, h) on the display, as rows of bytes."""
    shot = os.path.join(WORK, "shot.ppm")
    subprocess.run(["scrot", "-o", shot], env=dict(os.environ, DISPLAY=display), check=True, timeout=30)
    data = open(shot, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        m = re.compile(rb"\s*(#[^\n]*\n\s*)*(\S+)").match(data, at)
        fields.append(m.group(2))
        at = m.end()
    width = int(fields[1])
    pixels = data[at + 1:]
    x, y, w, h = box
    return [pixels[3 * ((y + row) * width + x):3 * ((y + row) * width + x + w)] for row in range(h)]


def changed(a, b):
    return sum(1 for ra, rb in zip(a, b) for i in range(0, len(ra), 3) if ra[i:i + 3] != rb[i:i + 3])


step("starting the installed orven-setup.exe from its folder")
xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
display = ":" + xvfb.stdout.readline().decode().strip()
xenv = dict(ENV, DISPLAY=display)
app = subprocess.Popen(["timeout", "-k", "10", "300", "wine", OTHER_DIR + r"\orven-setup.exe"], env=xenv,
                       cwd=WORK, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
sim = None
try:
    box = None
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and box is None:
        time.sleep(1)
        sockets = subprocess.run(["ss", "-uanp"], capture_output=True, text=True).stdout
        mine = [line for line in sockets.splitlines() if "orven-setup" in line]
        if not any(":60080 " in line for line in mine) or not any(":60081 " in line for line in mine):
            continue
        tree = subprocess.run(["xwininfo", "-root", "-tree"], env=dict(xenv, LC_ALL="C.UTF-8"),
                              capture_output=True, text=True, errors="replace").stdout
        m = re.search(rf'"{NAME}".*?(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', tree)
        if m:
            w, h, x, y = map(int, m.groups())
            box = (max(x, 0), max(y, 0), min(w, 1024 - max(x, 0)), min(h, 768 - max(y, 0)))
    if box is None:
        fail("the installed orven-setup.exe did not open its sockets on 60080 and 60081 and show its "
             f"window within two minutes; sockets:\n{sockets}")
    else:
        time.sleep(2)  # the empty list as drawn
        empty = screen(display, box)
        sim = subprocess.Popen(["timeout", "-k", "10", "200", "wine", OTHER_DIR + r"\orven-devsim.exe",
                                "--devices", "3", "--interval-ms", "500", "--mode", "both"],
                               env=xenv, cwd=WORK, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The list fills and the first device is shown: thousands of pixels
        # change, where a blinking caret changes a few dozen.
        deadline, most = time.monotonic() + 90, 0
        while time.monotonic() < deadline and most < 1500:
            time.sleep(1)
            most = max(most, changed(empty, screen(display, box)))
        subprocess.run(["scrot", "-o", os.path.join(WORK, "installed-app.png")],
                       env=dict(os.environ, DISPLAY=display), timeout=30)
        if most < 1500:
            fail(f"the window did not change when the simulator's devices announced themselves "
                 f"({most} pixels changed); screenshot in {WORK}/installed-app.png")
finally:
    for p in (sim, app):
        if p:
            p.terminate()
    run(["wineserver", "-k"], 60)
    for p in (sim, app):
        if p:
            p.wait()
    xvfb.terminate()
    xvfb.wait()

# ---- the uninstaller while orven-cli.exe runs: it refuses and removes nothing ---------------
# (Run in place with _?=, as the installer runs an earlier uninstaller, so that its exit code is its own.)
step("uninstalling silently while the installed orven-cli.exe runs")
cli = subprocess.Popen(["timeout", "-k", "10", "200", "wine", OTHER_DIR + r"\orven-cli.exe", "watch"], env=ENV,
                       cwd=WORK, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not any(
            "orven-cli" in line and ":60080 " in line
            for line in subprocess.run(["ss", "-uanp"], capture_output=True, text=True).stdout.splitlines()):
        time.sleep(0.5)
    kept = files_under(folder)
    r = run(["wine", OTHER_DIR + r"\Uninstall.exe", "/S", "_?=" + OTHER_DIR], 300)
    if r.returncode != 2 or files_under(folder) != kept or reg_query(UNINST_KEY) is None:
        fail(f"the silent uninstall beside a running orven-cli.exe ended with {r.returncode} (not 2) or removed "
             f"something: {sorted(set(kept) - set(files_under(folder)))}")
finally:
    cli.terminate()
    cli.wait()
    settle()

# ---- silent uninstall ----------------------------------------------------------------
step("uninstalling silently")
r = run(["wine", OTHER_DIR + r"\Uninstall.exe", "/S"], 300)
settle()
if r.returncode != 0:
    fail(f"the silent uninstall ended with {r.returncode}")
if os.path.exists(folder):
    fail(f"left behind in {OTHER_DIR}: {files_under(folder)}")
if shortcuts() != shortcuts_before:
    fail(f"shortcuts left behind: {shortcuts()}")
if reg_query(UNINST_KEY) is not None:
    fail(f"left behind: {UNINST_KEY}")
if reg_query(r"HKLM\Software\ORVEN") is not None:
    fail(r"left behind: HKLM\Software\ORVEN")
run(["wineserver", "-k"], 60)

if failures:
    sys.exit(f"{len(failures)} check(s) failed")
print(f"installer checked: {installer}")
