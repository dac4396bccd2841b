#!/usr/bin/env python3
"""Fault soak of the USB link: PVestra against vestra-sim over USB/IP on a private X server,
the sample stream on, faults injected at random through the simulator's console, and after
each fault a check from outside that PVestra recovered:

  - a new full-state upload in the simulator's frame log (after the faults that make PVestra
    reconnect: CRC error, unplug and plug, a killed and restarted simulator);
  - sample blocks flowing: the main window's picture keeps changing;
  - the window responding: a click on СПЕКТР (stream off, then on again) reaches the simulator.

PVestra's resident memory is sampled after every fault. Sanitizer reports in PVestra's or the
simulator's output fail the run. Not part of CI; run it under nice:

  nice -n 15 bench/soak/usb_fault_soak.py --bin build-thread/bin --faults 1000 --minutes 60

Prints one line per fault and a summary; exits non-zero when a fault was not recovered or a
sanitizer spoke.
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

# Share of each fault. The simulator's stalled block is one block that is never sent: with the
# stream on, the bulk read waiting for it takes the next one, so the link carries on without
# a reconnection (no block timeout); it is kept rare all the same.
FAULTS = [("crc", 30), ("short-block", 30), ("unplug", 20), ("restart", 15), ("stall-bulk", 1)]
RECONNECTING = {"crc", "unplug", "restart"}
SANITIZER = re.compile(r"(ERROR: AddressSanitizer|WARNING: ThreadSanitizer|runtime error:|ERROR: LeakSanitizer).*")
# Where the sanitizer runtimes keep their own memory on x86-64 Linux: ThreadSanitizer's shadow,
# its meta shadow (one entry per mutex and atomic) and its per-thread traces; AddressSanitizer's
# shadow. Everything else in PVestra's address space (its heap, its stacks, the libraries) is
# the program's own, or at least not provably the runtime's.
SANITIZER_RANGES = {
    "libtsan": [(0x010000000000, 0x200000000000), (0x300000000000, 0x340000000000), (0x600000000000, 0x620000000000)],
    "libasan": [(0x00007fff8000, 0x10007fff8000)],
}
# The click spot of СПЕКТР in the main window's client area.
STREAM_BUTTON = (380, 299)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Soak:
    def __init__(self, args):
        self.args = args
        self.bin = os.path.abspath(args.bin)
        self.work = tempfile.mkdtemp(prefix="pvestra-soak-")
        self.port = free_port()
        self.sim = None
        self.sim_out = None
        self.logs = []          # the simulator's frame logs, one per simulator life
        self.upload_letters = set()
        self.env = dict(os.environ, LC_ALL="C.UTF-8")
        here = os.path.dirname(os.path.abspath(__file__))
        self.env["TSAN_OPTIONS"] = self.env.get("TSAN_OPTIONS",
                                                f"halt_on_error=0 second_deadlock_stack=1 suppressions={here}/tsan-uninstrumented.supp")
        # AddressSanitizer cuts allocation and free stacks to two frames (unwinding into
        # Debian's Qt, built without frame pointers, stores a new stack for nearly every
        # allocation) and holds back 16 MB of freed memory instead of 256, which fills within
        # the first faults. The stack of a faulty access is still unwound whole. The sanitizers'
        # own memory still grows slowly over a run; the heap the program itself holds is
        # measured apart (heap_in_use_kb).
        self.env["ASAN_OPTIONS"] = self.env.get("ASAN_OPTIONS", "detect_leaks=1:malloc_context_size=2:quarantine_size_mb=16")
        self.env["LSAN_OPTIONS"] = self.env.get("LSAN_OPTIONS", f"suppressions={here}/lsan-uninstrumented.supp")

    # ---- processes

    def start_x(self):
        # The first free display number. Two soaks started together may both try one: the X
        # server whose pid the lock file holds has it, and the other tries the next number.
        for display in range(50, 1000):
            lock = f"/tmp/.X{display}-lock"
            if os.path.exists(lock):
                continue
            self.env["DISPLAY"] = f":{display}"
            with open(os.path.join(self.work, "xvfb.out"), "wb") as err:
                self.xvfb = subprocess.Popen(["Xvfb", self.env["DISPLAY"], "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                             stdout=subprocess.DEVNULL, stderr=err)
            deadline = time.time() + 60
            while self.xvfb.poll() is None and not self.holds_lock(lock):
                if time.time() > deadline:
                    raise RuntimeError("Xvfb did not start (see xvfb.out)")
                time.sleep(0.1)
            if self.xvfb.poll() is None:
                break
        while not self.xdotool("getdisplaygeometry"):
            if time.time() > deadline or self.xvfb.poll() is not None:
                raise RuntimeError("Xvfb did not accept clients (see xvfb.out)")
            time.sleep(0.2)

    def holds_lock(self, lock):
        try:
            with open(lock) as f:
                return f.read().strip() == str(self.xvfb.pid)
        except OSError:
            return False

    def start_sim(self):
        log = os.path.join(self.work, f"frames-{len(self.logs)}.log")
        self.logs.append(log)
        self.sim_out = open(os.path.join(self.work, f"sim-{len(self.logs)}.out"), "wb")
        self.sim = subprocess.Popen([os.path.join(self.bin, "vestra-sim"), "--no-serial", "--usb",
                                     f"127.0.0.1:{self.port}", "--log", log],
                                    stdin=subprocess.PIPE, stdout=self.sim_out, stderr=subprocess.STDOUT, env=self.env)
        deadline = time.time() + 60
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("vestra-sim did not listen")

    def console(self, line):
        self.sim.stdin.write((line + "\n").encode())
        self.sim.stdin.flush()

    def start_pvestra(self):
        config = os.path.join(self.work, "config", "PVestra")
        os.makedirs(config)
        with open(os.path.join(config, "PVestra.ini"), "w") as f:
            f.write(f"[Serial]\nPort=/nonexistent/soak-tty\n[Usb]\nServer=127.0.0.1:{self.port}\n")
        env = dict(self.env, XDG_CONFIG_HOME=os.path.join(self.work, "config"))
        self.pv_out = open(os.path.join(self.work, "pvestra.out"), "wb")
        self.pv = subprocess.Popen([os.path.join(self.bin, "PVestra")], stdout=self.pv_out, stderr=subprocess.STDOUT,
                                   env=env)
        deadline = time.time() + 120
        while time.time() < deadline:
            out = self.xdotool("search", "--onlyvisible", "--name", "VESTRA")
            if out:
                self.window = out.split()[0]
                return
            time.sleep(0.2)
        raise RuntimeError("PVestra showed no main window")

    def xdotool(self, *args):
        r = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True)
        return r.stdout.strip() if r.returncode == 0 else ""

    def stop(self):
        for p in [getattr(self, "pv", None), self.sim, getattr(self, "xvfb", None)]:
            if p and p.poll() is None:
                p.send_signal(signal.SIGTERM)
                try:
                    p.wait(30)
                except subprocess.TimeoutExpired:
                    p.kill()

    # ---- what is seen from outside

    def log_since(self, start):
        lines = []
        for log in self.logs:
            try:
                with open(log, encoding="utf-8", errors="replace") as f:
                    lines += f.read().splitlines()
            except FileNotFoundError:
                pass
        return lines[start:], len(lines)

    @staticmethod
    def letters(lines):
        # "usb 02 46 ... F 14070000": the letter after the hexadecimal bytes.
        out = set()
        for line in lines:
            m = re.match(r"^\S+ usb (?:[0-9A-F]{2} )+(\S+)", line) or re.match(r"^usb (?:[0-9A-F]{2} )+(\S+)", line)
            if m:
                out.add(m.group(1))
        return out

    def picture(self):
        geometry = self.xdotool("getwindowgeometry", "--shell", self.window)
        if not geometry:
            return None
        r = subprocess.run(["import", "-silent", "-window", self.window, "rgb:-"], env=self.env, capture_output=True)
        return hashlib.sha1(r.stdout).hexdigest() if r.returncode == 0 else None

    def blocks_flowing(self, seconds):
        first = self.picture()
        deadline = time.time() + seconds
        while time.time() < deadline:
            time.sleep(0.5)
            now = self.picture()
            if now and now != first:
                return True
        return False

    def wait_upload(self, start, seconds):
        deadline = time.time() + seconds
        while time.time() < deadline:
            new, _ = self.log_since(start)
            if self.upload_letters <= self.letters(new):
                return True
            time.sleep(0.2)
        return False

    def responds(self, seconds):
        _, start = self.log_since(0)
        for _ in range(2):  # off, then on again
            self.xdotool("mousemove", "--window", self.window, str(STREAM_BUTTON[0]), str(STREAM_BUTTON[1]), "click", "1")
            time.sleep(0.3)
        deadline = time.time() + seconds
        while time.time() < deadline:
            new, _ = self.log_since(start)
            if sum(1 for l in new if " s " in l or "s(" in l) >= 2:
                return True
            time.sleep(0.2)
        return False

    def rss_kb(self):
        with open(f"/proc/{self.pv.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def resident_split_kb(self):
        """PVestra's resident memory as (the sanitizer runtime's own mappings, the rest), from
        /proc/PID/smaps; (0, all of it) in a build without a sanitizer."""
        ranges, own, rest = [], 0, 0
        with open(f"/proc/{self.pv.pid}/smaps") as f:
            lines = f.readlines()
        for line in lines:
            for runtime, r in SANITIZER_RANGES.items():
                if runtime in line:
                    ranges = r
        start = 0
        for line in lines:
            m = re.match(r"([0-9a-f]+)-[0-9a-f]+ ", line)
            if m:
                start = int(m.group(1), 16)
            elif line.startswith("Rss:"):
                kb = int(line.split()[1])
                if any(lo <= start < hi for lo, hi in ranges):
                    own += kb
                else:
                    rest += kb
        return own, rest

    def heap_in_use_kb(self):
        """The bytes the program has allocated and not freed, by the sanitizer's allocator's own
        count (read with gdb), or None in a build without a sanitizer. Unlike the resident
        memory, it leaves out the sanitizer's shadow, quarantine and bookkeeping."""
        if not shutil.which("gdb"):
            return None
        r = subprocess.run(["gdb", "-p", str(self.pv.pid), "-batch", "-ex",
                            "print (unsigned long)__sanitizer_get_current_allocated_bytes()"],
                           capture_output=True, text=True, timeout=120)
        m = re.search(r"^\$1 = (\d+)", r.stdout, re.M)
        return int(m.group(1)) // 1024 if m else None

    def sanitizer_reports(self):
        """Every sanitizer report in PVestra's and the simulators' outputs, one line each."""
        reports = []
        for name in sorted(os.listdir(self.work)):
            if not name.endswith(".out"):
                continue
            with open(os.path.join(self.work, name), encoding="utf-8", errors="replace") as f:
                text = f.read()
            reports += [f"{name}: {m.group(0)}" for m in SANITIZER.finditer(text)]
        return reports

    # ---- the run

    def inject(self, kind):
        if kind == "unplug":
            self.console("unplug")
            time.sleep(random.uniform(0.5, 2.0))
            self.console("plug")
        elif kind == "restart":
            self.sim.kill()
            self.sim.wait()
            time.sleep(random.uniform(0.2, 1.0))
            self.start_sim()
        else:
            self.console("fault " + kind)

    def run(self):
        a = self.args
        self.start_x()
        self.start_sim()
        self.start_pvestra()
        # The picture must stand still while the stream is off, or a changing picture would
        # prove nothing about blocks.
        time.sleep(2)
        if self.blocks_flowing(3):
            raise RuntimeError("the main window changes without sample blocks")
        # The stream on, and the first upload's letters as the pattern of every later one.
        self.xdotool("mousemove", "--window", self.window, str(STREAM_BUTTON[0]), str(STREAM_BUTTON[1]), "click", "1")
        time.sleep(3)
        first, _ = self.log_since(0)
        self.upload_letters = self.letters(first) - {"s", "s(упр.спектром)"}
        if not self.upload_letters or not self.blocks_flowing(a.timeout):
            raise RuntimeError("no upload or no sample blocks at the start")
        print(f"upload letters: {''.join(sorted(self.upload_letters))}", flush=True)
        kinds = a.kinds.split(",") if a.kinds else [k for k, _ in FAULTS]
        weights = [dict(FAULTS)[k] for k in kinds]
        counts, failures = {}, []
        rss_100 = heap_100 = split_100 = None
        rss = []
        end = time.time() + 60 * a.minutes
        n = 0
        while n < a.faults and time.time() < end:
            n += 1
            kind = random.choices(kinds, weights)[0]
            _, start = self.log_since(0)
            t0 = time.time()
            self.inject(kind)
            ok = True
            if kind in RECONNECTING:
                ok = self.wait_upload(start, a.timeout)
            ok = ok and self.blocks_flowing(a.timeout)
            if ok and n % a.click_every == 0:
                ok = self.responds(a.timeout)
            if self.pv.poll() is not None:
                ok = False
            rss.append(self.rss_kb() if self.pv.poll() is None else 0)
            counts[kind] = counts.get(kind, 0) + 1
            print(f"{time.strftime('%H:%M:%S')} {n:5d} {kind:12s} {'recovered' if ok else 'NOT RECOVERED'} {time.time() - t0:5.1f} s "
                  f"rss {rss[-1]} kB", flush=True)
            # Every hundred faults, the heap the program holds beside the resident memory, so a
            # growth can be told from the sanitizer's own: a leak grows both. A build without a
            # sanitizer has no such count, and gdb is not asked again after fault 100.
            if n % 100 == 0 and self.pv.poll() is None and (n == 100 or heap_100 is not None):
                heap = self.heap_in_use_kb()
                if n == 100:
                    rss_100, heap_100, split_100 = rss[-1], heap, self.resident_split_kb()
                if heap is not None:
                    print(f"memory after fault {n}: resident {rss[-1]} kB, heap in use {heap} kB", flush=True)
            if not ok:
                failures.append((n, kind))
                if self.pv.poll() is not None:
                    break
        alive = self.pv.poll() is None
        heap_end = self.heap_in_use_kb() if heap_100 and alive else None
        split_end = self.resident_split_kb() if split_100 and alive else None
        # The programs are stopped first: LeakSanitizer reports when a program ends.
        self.stop()
        reports = self.sanitizer_reports()
        print(f"faults: {n} ({', '.join(f'{k} {v}' for k, v in sorted(counts.items()))})")
        print(f"not recovered: {len(failures)} {failures[:10]}")
        if rss_100:
            print(f"resident memory: after fault 100 {rss_100} kB, at the end {rss[-1]} kB "
                  f"({100.0 * (rss[-1] - rss_100) / rss_100:+.1f} %)")
        if split_100 and split_end and split_100[0]:
            print(f"of which the sanitizer runtime's shadow and bookkeeping: after fault 100 {split_100[0]} kB, "
                  f"at the end {split_end[0]} kB; the rest: {split_100[1]} kB, {split_end[1]} kB "
                  f"({100.0 * (split_end[1] - split_100[1]) / split_100[1]:+.1f} %)")
        if heap_100 and heap_end:
            print(f"heap in use by the program (the sanitizer's count): after fault 100 {heap_100} kB, "
                  f"at the end {heap_end} kB ({100.0 * (heap_end - heap_100) / heap_100:+.1f} %)")
        print(f"sanitizer reports: {len(reports)}")
        for r in reports[:20]:
            print("  " + r)
        print(f"outputs kept in {self.work}")
        return 0 if not failures and not reports else 1


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--bin", required=True, help="the build's bin folder (PVestra, vestra-sim)")
    p.add_argument("--faults", type=int, default=1000)
    p.add_argument("--minutes", type=float, default=60, help="stop after this long even if fewer faults")
    p.add_argument("--timeout", type=float, default=30, help="seconds each recovery check may take")
    p.add_argument("--click-every", type=int, default=5, help="check the window's response every N faults")
    p.add_argument("--seed", type=int, default=18)
    p.add_argument("--kinds", help="only these faults, comma-separated (crc,short-block,unplug,restart,stall-bulk)")
    a = p.parse_args()
    random.seed(a.seed)
    # A soak stopped with SIGTERM still stops its X server, simulator and PVestra.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    soak = Soak(a)
    try:
        return soak.run()
    finally:
        soak.stop()


if __name__ == "__main__":
    sys.exit(main())
