#!/usr/bin/env python3
"""End-to-end tests of the journal of writes: orven-cli set, history and undo
against orven-devsim, inside the private network namespace. The journal lives
in a temporary folder (XDG_STATE_HOME); under Wine, in the prefix's own
%LOCALAPPDATA%.

Usage (only inside tools/isolated-net, or tools/wine-session for a Windows build):
    python3 tests/e2e/journal_test.py BUILD/cli/orven-cli BUILD/tools/devsim/orven-devsim
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devsim_test as dt  # noqa: E402
import isolation  # noqa: E402

check, Sim, BASE = dt.check, dt.Sim, dt.BASE
CLI = SIM = None
WINE = bool(os.environ.get("ORVEN_EMULATOR"))
STATE = JOURNAL = None  # the folder the journal's folder is made in, and its file


def ident(i):
    return "%014X" % (BASE + i)


def find_state(runner):
    """A temporary folder named in XDG_STATE_HOME; under Wine, which sets LOCALAPPDATA itself from the
    prefix's profile, that folder of the prefix (emptied of any journal other tests left there)."""
    global STATE, JOURNAL
    if WINE:
        local = subprocess.run([*runner, "cmd", "/c", "echo", "%LOCALAPPDATA%"], capture_output=True,
                               text=True, timeout=120).stdout.strip()
        STATE = subprocess.run([*runner, "winepath", "-u", local], capture_output=True, text=True,
                               timeout=120).stdout.strip()
        shutil.rmtree(os.path.join(STATE, "orven-setup"), ignore_errors=True)
    else:
        STATE = tempfile.mkdtemp(prefix="orven-journal-test-")
        os.environ["XDG_STATE_HOME"] = STATE
    JOURNAL = os.path.join(STATE, "orven-setup", "journal.jsonl")


def cli(*args, timeout=90):
    p = subprocess.run([*CLI, *args], capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def lines():
    """The journal's whole lines (a torn one is skipped, as orven-cli skips it)."""
    got = []
    with open(JOURNAL, encoding="utf-8", errors="replace") as f:
        for l in f:
            try:
                got.append(json.loads(l))
            except ValueError:
                pass
    return got


def entries():
    """The journal's entries, oldest first, each with its outcome."""
    got, by_id = [], {}
    for line in lines():
        if "entry" in line:
            by_id[line["entry"]] = line
            got.append(line)
        elif line.get("outcome_of") in by_id:
            by_id[line["outcome_of"]]["outcome"] = line["outcome"]
    return got


def device(i):
    def heard(result):
        return result[0] == 0 and ident(i) in {x["identity"] for x in json.loads(result[1])}

    rc, out, _ = dt.again_until(lambda: cli("list", "--seconds", "1.5", "--format", "json"), heard)
    return {x["identity"]: x for x in json.loads(out)}.get(ident(i), {}) if rc == 0 else {}


def sets_to(sim, who):
    while sim.wait_line(lambda l: False, 0.3) is not None:
        pass
    return len([l for l in sim.all_lines if l.startswith("set-received " + who)])


def test_set_history_undo(sim):
    """A set leaves one complete entry; history shows it; undo --last puts the device back and is
    journaled; undo refuses a device changed since (exit 2, nothing sent) unless --force; a device not
    heard: exit 3."""
    rc, out, err = cli("set", ident(0), "--ip", "192.168.1.150", "--name", "新名字")
    check(rc == 0 and "confirmed" in out, f"set confirmed: {rc} {out} {err}")
    got = entries()
    check(len(got) == 1, f"one entry: {got}")
    e = got[0] if got else {}
    check(e.get("program") == "orven-cli" and e.get("command") == "set" and e.get("version")
          and e.get("workstation") and e.get("identity") == ident(0) and e.get("adapter", {}).get("name")
          and e.get("adapter", {}).get("index", 0) > 0
          and re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", e.get("time", "")), f"entry's header: {e}")
    b, a = e.get("before", {}), e.get("after", {})
    check(b.get("ip") == "192.168.1.100" and b.get("name") == "一号泵站" and len(b.get("record", "")) == 120
          and a.get("ip") == "192.168.1.150" and a.get("name") == "新名字" and a.get("mask") == "255.255.255.0",
          f"before and after, every field and the record: {b} {a}")
    check(e.get("outcome") == "confirmed", f"outcome confirmed: {e}")
    if not WINE:
        check(os.stat(JOURNAL).st_mode & 0o777 == 0o600 and os.stat(os.path.dirname(JOURNAL)).st_mode & 0o777 == 0o700,
              "the journal and its folder are the user's alone")

    rc, out, err = cli("history")
    check(rc == 0 and e.get("entry", "?") in out and "ip 192.168.1.100 → 192.168.1.150" in out
          and "name 一号泵站 → 新名字" in out and "confirmed" in out, f"history table: {rc} {out} {err}")
    rc, out, _ = cli("history", "--format", "json", "--device", ident(0), "--since", "2000-01-01")
    h = json.loads(out) if rc == 0 else []
    check(len(h) == 1 and {"field": "ip", "before": "192.168.1.100", "after": "192.168.1.150"} in h[0]["changes"]
          and h[0]["outcome"] == "confirmed", f"history json: {out}")
    for args in (["--device", ident(1)], ["--since", "2999-01-01T00:00Z"]):
        rc, out, _ = cli("history", "--format", "csv", *args)
        check(rc == 0 and out.startswith("entry,time,identity,") and len(out.strip().splitlines()) == 1,
              f"history {args} filters everything out: {out}")
    rc, _, err = cli("history", "--since", "yesterday")
    check(rc == 1 and "--since" in err, f"a bad date: exit 1: {rc} {err}")

    rc, out, err = cli("undo", "--last")
    check(rc == 0 and "confirmed" in out, f"undo --last confirmed: {rc} {out} {err}")
    d = device(0)
    check(d.get("ip") == "192.168.1.100" and d.get("name") == "一号泵站", f"device back to its old configuration: {d}")
    got = entries()
    check(len(got) == 2 and got[1].get("command") == "undo" and got[1].get("undo_of") == e.get("entry")
          and got[1].get("outcome") == "confirmed" and got[1]["after"].get("ip") == "192.168.1.100",
          f"the undo is journaled: {got[1:]}")

    # Changed since: the older entry's after is no longer announced.
    check(cli("set", ident(1), "--name", "甲")[0] == 0 and cli("set", ident(1), "--name", "乙")[0] == 0, "two sets")
    first = entries()[-2]["entry"]
    sent = sets_to(sim, ident(1))
    rc, out, err = cli("undo", first, "--timeout", "5")
    check(rc == 2 and "changed since" in err, f"undo of a device changed since: exit 2: {rc} {out} {err}")
    check(sets_to(sim, ident(1)) == sent, "nothing sent to it")
    rc, out, err = cli("undo", first, "--force")
    check(rc == 0 and device(1).get("name") == "二号泵站", f"--force writes the old name back: {rc} {out} {err}")

    # An entry of a device that is not there.
    ghost = dict(entries()[0], entry="0badc0de0000", identity="00000000000ABC")
    with open(JOURNAL, "a", encoding="utf-8") as f:
        f.write(json.dumps(ghost, ensure_ascii=False) + "\n")
    rc, out, err = cli("undo", "--device", "ABC", "--timeout", "2")
    check(rc == 3 and "not heard" in out, f"undo of a device not heard: exit 3: {rc} {out} {err}")
    rc, _, err = cli("undo", "--last", "--device", "ABC")
    check(rc == 1, f"two choices: exit 1: {rc} {err}")


def test_torn_and_unwritable(sim):
    """A journal torn in the middle of its last entry, and one that cannot be written, stop no write and
    lose no earlier entry; the latter says so in one line."""
    before = entries()
    with open(JOURNAL, "rb+") as f:
        data = f.read()
        last = data.rstrip(b"\n").rfind(b"\n") + 1
        f.truncate(last + (len(data) - last) // 2)
    rc, out, err = cli("set", ident(2), "--name", "撕裂后")
    check(rc == 0 and "confirmed" in out and "warning" not in err, f"write after a torn entry: {rc} {out} {err}")
    rc, out, err = cli("history", "--format", "json")
    h = json.loads(out) if rc == 0 else []
    ids = [x["entry"] for x in h]
    check(len(h) == len(before) and ids[0] == entries()[-1]["entry"]
          and all(x["entry"] in ids for x in before[:-1]) and "skipped" in err,
          f"every earlier entry kept, the torn one skipped with a warning: {ids} {err}")

    # The journal's folder cannot be made: a file has its name.
    folder = os.path.dirname(JOURNAL)
    os.rename(folder, folder + ".aside")
    open(folder, "w").close()
    rc, out, err = cli("set", ident(2), "--name", "无日志")
    os.remove(folder)
    os.rename(folder + ".aside", folder)
    warnings = [l for l in err.splitlines() if "journal" in l]
    check(rc == 0 and "confirmed" in out and len(warnings) == 1 and len(err.splitlines()) == 1,
          f"an unwritable journal: the write goes on, one warning line: {rc} {out} {err}")


def main():
    global CLI, SIM
    isolation.require()  # before any socket
    runner = [os.environ["ORVEN_EMULATOR"]] if WINE else []
    CLI, SIM = runner + [sys.argv[1]], runner + [sys.argv[2]]
    find_state(runner)
    sim = Sim(SIM, "--devices", "3", "--interval-ms", "500", "--quiet", "--duration-ms", "300000")
    try:
        for test in (test_set_history_undo, test_torn_and_unwritable):
            print("==", test.__name__, flush=True)
            test(sim)
    finally:
        sim.stop(signal.SIGINT)
        shutil.rmtree(os.path.join(STATE, "orven-setup") if WINE else STATE, ignore_errors=True)
    print("FAILED: %d" % len(dt.failures) if dt.failures else "all passed", flush=True)
    return 1 if dt.failures else 0


if __name__ == "__main__":
    sys.exit(main())
