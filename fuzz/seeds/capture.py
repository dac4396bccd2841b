#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

What the receiver says and what a USB/IP client says are captured from a running vestra-sim:
its serial line (state requests, level and frequency reports) and one USB/IP session
(device list, import, command writes with the stream switched on, interrupt and bulk reads).
Files (INI, DSP programs, knob streams) are written as the program writes them.

Usage: fuzz/seeds/capture.py BUILD_BIN_DIR
"""
import os
import random
import select
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time
import tty

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
STX, ETX = 2, 3


def frame(letter, text):
    body = bytes([ord(letter)]) + text.encode()
    check = (-sum(body)) & 0x7F | 0x80
    return bytes([STX]) + body + bytes([check, ETX])


def save(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def start_sim(bindir, tmp):
    link = os.path.join(tmp, "tty")
    sim = subprocess.Popen([os.path.join(bindir, "vestra-sim"), "--usb", "127.0.0.1:0", "--serial", link],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    port = None
    while port is None:
        line = sim.stdout.readline().decode()
        if not line:
            raise SystemExit("vestra-sim ended")
        if line.startswith("USB/IP:"):
            port = int(line.split()[1].split(":")[1].rstrip(","))
    while not os.path.exists(link):
        time.sleep(0.05)
    return sim, link, port


def capture_serial(link):
    fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    out = b""
    os.write(fd, frame("F", "07050000") + frame("A", "0") + frame("E", "1"))
    end = time.time() + 4
    while time.time() < end:
        if select.select([fd], [], [], 0.1)[0]:
            out += os.read(fd, 4096)
    os.close(fd)
    return out


class UsbIp:
    def __init__(self, port):
        self.port = port
        self.sent = b""
        self.received = {"devlist": b"", "import": b"", "transfers": b""}
        self.inbound = set()  # sequence numbers of IN transfers: only their replies carry data

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.port))
        s.settimeout(5)
        return s

    def send(self, s, data):
        self.sent += data
        s.sendall(data)

    @staticmethod
    def recv(s, n):
        data = b""
        while len(data) < n:
            chunk = s.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return data

    def devlist(self):
        s = self.connect()
        self.send(s, struct.pack(">HHI", 0x0111, 0x8005, 0))
        while chunk := s.recv(4096):  # the server closes once the list is out
            self.received["devlist"] += chunk
        s.close()

    def import_device(self):
        s = self.connect()
        self.send(s, struct.pack(">HHI32s", 0x0111, 0x8003, 0, b"1-1"))
        reply = self.recv(s, 8 + 312)
        self.received["import"] = reply
        busnum, devnum = struct.unpack(">II", reply[8 + 288:8 + 296])
        self.devid = busnum << 16 | devnum
        return s

    def submit(self, s, seq, ep, direction, length, out=b""):
        if direction:
            self.inbound.add(seq)
        self.send(s, struct.pack(">IIIIIIiiii8s", 1, seq, self.devid, direction, ep,
                                 0x200 if direction else 0, length, 0, 0, 0, b"\0" * 8) + out)

    def reply(self, s):
        head = self.recv(s, 48)
        command, seq, _, _, _, status, actual = struct.unpack(">IIIIIii", head[:28])
        data = self.recv(s, actual) if actual > 0 and seq in self.inbound else b""
        self.received["transfers"] += head + data
        return seq, status, data


def capture_usb(port):
    u = UsbIp(port)
    u.devlist()
    s = u.import_device()
    seq = 1
    outs = []
    for f in [frame("F", "14070000"), frame("E", "1"), bytes([STX, ord("s"), ord("1"), ETX])]:
        buf = f.ljust(64, b"\0")
        outs.append(buf)
        u.submit(s, seq, 6, 0, 64, buf)
        seq += 1
    reports, blocks = [], []
    u.submit(s, seq, 5, 1, 64)
    seq += 1
    deadline = time.time() + 4
    while time.time() < deadline and (len(reports) < 24 or len(blocks) < 4):
        rseq, status, data = u.reply(s)
        if len(data) == 64:
            reports.append(data)
            if data[1:2] == b"C" and len(blocks) < 6:
                u.submit(s, seq, 1, 1, 4096)
                seq += 1
            u.submit(s, seq, 5, 1, 64)
            seq += 1
        elif len(data) == 4096:
            blocks.append(data)
    # Unlink the outstanding reads as a client does before it goes.
    u.send(s, struct.pack(">IIIII", 2, seq, u.devid, 0, 0) + struct.pack(">I", seq - 1) + b"\0" * 24)
    s.close()
    return u, outs, reports, blocks


def main():
    bindir = sys.argv[1]
    rnd = random.Random(18)
    with tempfile.TemporaryDirectory() as tmp:
        sim, link, port = start_sim(bindir, tmp)
        try:
            serial = capture_serial(link)
            usb, outs, reports, blocks = capture_usb(port)
            client = usb.sent
        finally:
            sim.stdin.write(b"quit\n")
            sim.stdin.close()
            sim.wait(5)

    # The serial line: pieces of the capture, from any byte on, with the link and split bytes.
    for i in range(30):
        start = rnd.randrange(len(serial))
        piece = serial[start:start + rnd.randrange(8, 200)]
        save("serial_report", f"capture-{i:02d}", bytes([i % 4, rnd.randrange(256)]) + piece)
    for i, (letter, text) in enumerate([("F", "30000000"), ("L", "-012"), ("L", "+012"), ("D", "4a"),
                                        ("D", "4x"), ("C", "042"), ("S", ""), ("Q", "1")]):
        save("serial_report", f"report-{letter}-{i}", bytes([2, 0]) + frame(letter, text))

    # The USB rings: reports (queued and, for C, parsed at once), blocks and link events.
    for i, r in enumerate(reports[:24]):
        save("usb_ring", f"report-{i:02d}", bytes([1 if r[1:2] == b"C" else 0]) + r)
    for i, b in enumerate(blocks[:4]):
        save("usb_ring", f"block-{i}", b"\x00" + reports[0] + b"\x02" + b)
    for code in range(0, 13):
        save("usb_ring", f"event-{code:02d}", bytes([3, code]))

    # The simulator's frames: what the PC sends, over the serial line and over USB.
    pc_serial = b"".join(frame(l, t) for l, t in [("F", "07050000"), ("A", "0"), ("E", "1"), ("H", "3")])
    for i in range(10):
        start = rnd.randrange(len(pc_serial))
        piece = pc_serial[start:start + rnd.randrange(4, 40)]
        save("sim_frames", f"serial-{i:02d}", bytes([0, len(piece)]) + piece)
    for i, o in enumerate(outs):
        save("sim_frames", f"usb-{i}", b"\x01" + o)
    program = bytes(range(64))
    packets = [bytes([STX, ord("a"), 8]) + program[:32] + bytes([ETX]),
               bytes([STX, ord("b"), 8]) + program[32:64] + bytes([ETX]),
               bytes([STX, ord("c"), 2]) + program[:8] + bytes([ETX])]
    save("sim_frames", "dsp-load", b"".join(b"\x01" + p.ljust(64, b"\0") for p in packets))
    for sel in b"0125":
        save("sim_frames", f"spectrum-{chr(sel)}", b"\x01" + bytes([STX, ord("s"), sel, ETX]).ljust(64, b"\0"))

    # The USB/IP server: the captured client session, cut at message boundaries and anywhere.
    save("sim_usbip_server", "session", b"\x00" + client)
    for i in range(24):
        cut = rnd.randrange(len(client))
        save("sim_usbip_server", f"session-{i:02d}", bytes([rnd.randrange(16)]) + client[cut:cut + 600] if i % 2
             else bytes([rnd.randrange(16)]) + client[:cut])

    # The USB/IP codec: what the server answered, as the bus client decodes it.
    save("usbip_codec", "devlist", b"\x00" + usb.received["devlist"])
    save("usbip_codec", "devlist-records", b"\x01" + usb.received["devlist"])
    save("usbip_codec", "import", b"\x02" + usb.received["import"])
    save("usbip_codec", "import-refused", b"\x02" + usb.received["import"][:4] + b"\0\0\0\x01")
    transfers = usb.received["transfers"]
    for i in range(16):
        start = rnd.randrange(0, len(transfers), 48) if i else 0
        save("usbip_codec", f"transfers-{i:02d}", b"\x03" + transfers[start:start + rnd.randrange(48, 9000)])

    # The console.
    lines = ["status", "unplug", "plug", "fault crc", "fault short-block", "fault stall-bulk", "fault x",
             "signal add 7050k 60 cw", "signal add 14.07M 40 fsk", "signal add 9500000 80 am",
             "signal add 10M 30 carrier", "signal del 7050k", "signal del 1", "signal add 41M 1 am",
             "signal add 1k 1e308 am", "report L-012", "report hex 02 46 33 30 30 30 30 30 30 30 B7 03",
             "report hex zz", "report", "quit", "", "help"]
    for i, line in enumerate(lines):
        save("sim_console", f"line-{i:02d}", line.encode())
    save("sim_console", "script", "\n".join(lines[7:12] + ["status"]).encode())

    # INI files as the program writes them (Windows-1251, CRLF), and edited by hand.
    ini = ("[TMain]\r\nLeft=100\r\nTop=80\r\nAttVch.Value=10\r\nBtnAM.Down=1\r\n\r\n"
           "[Serial]\r\nPort=/dev/ttyS0\r\n\r\n[Usb]\r\nServer=127.0.0.1:3240\r\nDevice=7e57:5652\r\nBusId=\r\n\r\n"
           "[TDecoder]\r\nRecvOFF.Checked=1\r\nRecv9.Checked=0\r\n\r\n"
           "[TChan]\r\nChannelName=Приём на 7 МГц\r\n").encode("cp1251")
    save("ini", "program", ini)
    save("ini", "program-lf", ini.replace(b"\r\n", b"\n"))
    save("ini", "hand-edited", b"; comment\n  [ Serial ]  \n Port = /dev/ttyUSB0 \n\n[serial]\nport=x\nno key\n=v\n")
    save("ini", "key-before-section", b"Key=1\n[A]\nk=v=w\n[]\n=\n[B\nx=]\n")
    save("ini", "controls", b"[Classes]\r\n{1A2B}=Mirtal\r\n[ProgIDs]\r\nMIRTAL.MirtalCtrl.1={1A2B}\r\n")
    save("ini", "cyrillic", "[Окно]\r\nКлюч=Значение ёЁ №\r\n".encode("cp1251"))
    save("ini", "empty", b"")
    save("ini", "high-bytes", bytes([0x5B, 0x41, 0x5D, 0x0A, 0x6B, 0x3D]) + bytes(range(0x80, 0x100)))

    # The knob's stream form, as the control saves it, and property bags.
    def knob_stream(step=1, big=1000, kind=0, up=30000000, dn=0, tip=True, text=b"", timer=10):
        s = struct.pack("<IiiIiiiii", 0x10000, 1693, 1667, 0, step, big, kind, up, dn)
        s += bytes([1 if tip else 0])
        s += bytes([len(text)]) + text if len(text) < 255 else b"\xff" + struct.pack("<H", len(text)) + text
        return s + struct.pack("<h", timer)
    save("knob_persistence", "stream-default", b"\x00" + knob_stream())
    save("knob_persistence", "stream-tip", b"\x00" + knob_stream(step=10, text="Частота".encode("cp1251")))
    save("knob_persistence", "stream-long-tip", b"\x00" + knob_stream(text=b"x" * 300))
    save("knob_persistence", "stream-timer-0", b"\x00" + knob_stream(timer=0))
    save("knob_persistence", "stream-short", b"\x00" + knob_stream()[:20])
    save("knob_persistence", "stream-extra", b"\x00" + knob_stream() + b"\x00")
    # Bag items: name index, type (0 bool, 1 int16, 2 int32, 3 string, 4 empty), 4 value bytes.
    save("knob_persistence", "bag-steps", b"\x01" + bytes([0, 2, 0, 0, 0, 10, 1, 2, 0, 0, 3, 232]))
    save("knob_persistence", "bag-text", b"\x01" + bytes([7, 3, 0, 0, 0, 5]) + b"hello" + bytes([6, 0, 0, 0, 0, 1]))
    save("knob_persistence", "bag-timer", b"\x01" + bytes([8, 1, 0, 0, 0, 0]))
    save("knob_persistence", "bag-wrong-type", b"\x01" + bytes([0, 3, 0, 0, 0, 3]) + b"abc")

    # DSP program files: header (2 unused bytes, length N), then the program.
    for n in [0, 1, 4, 31, 32, 33, 64, 100, 1000, 65520, 65523, 65524, 65535]:
        body = bytes(rnd.randrange(256) for _ in range(min(n, 256)))
        save("dsp_program", f"program-{n:05d}", b"\0\0" + struct.pack("<H", n) + body)
    save("dsp_program", "too-long", b"\0\0" + struct.pack("<H", 16) + b"\0" * 65536)
    save("dsp_program", "empty", b"")
    save("dsp_program", "header-only", b"\0\0")


if __name__ == "__main__":
    main()
