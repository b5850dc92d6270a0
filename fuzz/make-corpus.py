#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

A handful of valid inputs per target, the same on every run (standard library only). The
layouts are those of the targets' own comments: the packet targets take two bytes for their
handler table first, the console target one byte for its choices, and so on. Run it again after
changing a layout; it only adds and overwrites the files it names.
"""
import hashlib
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"

FLAG, ESCAPE = 0x7E, 0x7D
SYS, DBG = 0, 1
ACK, NAK = 0x80, 0x40
IAC, DONT, DO, WONT, WILL, SB, SE = 255, 254, 253, 252, 251, 250, 240
COM_PORT = 44
COLD_LOADER_END = bytes([0x80, 0x24, 0x80])


def checksum(data, state=0):
    """8-bit Fletcher sums with end-around carry, A in the high byte."""
    a, b = state >> 8, state & 0xFF
    for x in data:
        a += x
        if a > 255:
            a -= 255
        b += a
        if b > 255:
            b -= 255
    return (a << 8) | b


def unstuffed(type_, subtype, payload, length=None):
    """The frame before stuffing, flag included; length overrides the header's length."""
    stated = len(payload) if length is None else length
    head = bytes([FLAG, 0x02, 0x00, type_, subtype]) + struct.pack("<H", stated)
    head += struct.pack("<H", checksum(head[1:7]))
    total = checksum(payload, checksum(head[1:9]))
    return head + payload + struct.pack("<H", total)


def stuffed(type_, subtype, payload):
    raw = unstuffed(type_, subtype, payload)
    out = bytearray([FLAG])
    for x in raw[1:]:
        out += bytes([ESCAPE, x ^ 0x20]) if x in (FLAG, ESCAPE) else bytes([x])
    return bytes(out)


def plain(type_, subtype, payload):
    return unstuffed(type_, subtype, payload)[1:]


def id_block():
    block = bytearray(163)
    struct.pack_into("<HHH", block, 0, 1, 0x0C01, 7)
    block[6:13] = bytes([20, 24, 5, 17, 10, 30, 0])
    struct.pack_into("<IHHHHH", block, 13, 0x00BF, 1, 256, 4096, 64, 70)
    block[55:61] = bytes([0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E])
    block[61:61 + 9] = b"SN0001234"
    block[85:85 + 11] = b"Corvix 3000"
    struct.pack_into("<IHHH", block, 147, 163, 0x400, 0x8000, 0x1234)
    block[157:163] = b"CVXIDB"
    return bytes(block)


INFOPROBE_REPLY = struct.pack("<IHBBH", 1, 0x00BF, 2, 3, 0x10) + b"\0\0" + id_block()
WRITE_REQUEST = bytes([0]) + struct.pack("<HI", 4, 0x80000) + b"\x7e\x7d\x02\xff"
STDIO_TEXT = b"hello \x7e\x7d board\0"
TARGET_TEXT = b"\x00\x00" + struct.pack("<H", 18) + b"Flash voltage low\0"
CHALLENGE = b"\x01" + bytes(range(0x30, 0x40))


def upl(records):
    """A user program: header with total and MD5, then address/length/data records."""
    body = b"".join(struct.pack("<II", address, 8 + len(data)) + data for address, data in records)
    total = sum(8 + len(data) for _, data in records)
    digest = hashlib.md5(b"".join(data for _, data in records)).digest()
    return b"UPL1" + struct.pack("<I", total) + b"\0\0\0\0" + digest + body


FLASH_TABLE = (b"; flash chips\r\n[00bf]\r\nflash size=512\r\nsector size = 4096\r\n"
               b"num sectors=0x80\r\nwrite mode=3\r\n\r\n[01A4]\r\nflash size=\"256\"\r\nwrite mode=-1\r\n")

REGISTRY = (b"Windows Registry Editor Version 5.00\r\n\r\n"
            b"[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\3.02\\Communications]\r\n"
            b"\"Com Port\"=dword:00000003\r\n\"CorvixSys Console Newline\"=\"\\\\r\\\\n\"\r\n"
            b"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n"
            b"  18,19,1a\r\n\"Expand\"=hex(2):25,00\r\n@=\"default\"\r\n\r\n"
            b"; a comment\r\n[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\Ports]\r\n"
            b"\"COM3\"=\"/dev/ttyUSB0\"\r\n\"COM7\"=\"rfc2217://127.0.0.1:4000\"\r\n")

NEWLINE = b"\r\n"
CONSOLE_LOGIN = (bytes([IAC, WILL, 1, IAC, WILL, 3]) + b"220 Vex-Lon CorvixSys Console" + NEWLINE +
                 b"Username:" + b"331 Password required" + NEWLINE + b"Password:")
CONSOLE_WELCOME = b"230 User logged in." + NEWLINE + b"CON:"


def discovery_reply(name, status=0):
    reply = bytearray(86)
    struct.pack_into("<H", reply, 2, status)
    reply[4:4 + len(name)] = name
    reply[44:48] = bytes([127, 0, 0, 1])
    reply[48:54] = bytes([0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E])
    struct.pack_into("<H", reply, 54, 4244)
    return bytes(reply)


CORPUS = {
    "PacketSerial": {
        "noop-ack": b"\x03\xff" + stuffed(SYS, ACK | 1, b""),
        "infoprobe-copied-short": b"\x07\x10" + stuffed(SYS, ACK | 4, INFOPROBE_REPLY),
        "stdio-stuffed": b"\x03\xff" + stuffed(DBG, 21, STDIO_TEXT),
        "nak-after-noise": b"\x03\x00" + b"\x00\x7d\xff" + stuffed(SYS, NAK | 3, b""),
        "bad-header-then-good": b"\x0f\x08" + stuffed(SYS, ACK | 2, b"abc")[:6] + b"\x00\x00\x00" +
                                stuffed(SYS, ACK | 3, WRITE_REQUEST),
        "unregistered": b"\x00\x00" + stuffed(SYS, ACK | 1, b"x"),
        "engine-kinds": b"\x10\xaf" + stuffed(SYS, 63, TARGET_TEXT) + stuffed(SYS, 0, b"\x01\x02\x03") +
                        stuffed(SYS, ACK | 4, INFOPROBE_REPLY),
    },
    "PacketLink": {
        "noop-ack": b"\x03\xff" + plain(SYS, ACK | 1, b""),
        "infoprobe-copied-short": b"\x07\x10" + plain(SYS, ACK | 4, INFOPROBE_REPLY),
        "flag-in-payload": b"\x03\xff" + plain(DBG, 21, STDIO_TEXT),
        "resync-after-noise": b"\x03\x00" + b"\x55\x02\x00\x09" + plain(SYS, NAK | 3, b""),
        "two-frames": b"\x0f\x08" + plain(SYS, ACK | 2, b"abc") + plain(SYS, ACK | 3, WRITE_REQUEST),
        "unregistered": b"\x00\x00" + plain(SYS, ACK | 1, b"x"),
        "engine-kinds": b"\x10\xaf" + plain(DBG, 63, CHALLENGE) + plain(DBG, 63, b"\x00") +
                        plain(SYS, 63, TARGET_TEXT) + plain(DBG, 57, b""),
    },
    "Rfc2217": {
        "accepts-com-port": bytes([IAC, DO, COM_PORT, IAC, WILL, 0, IAC, DO, 0]),
        "baud-and-modem": bytes([IAC, DO, COM_PORT, IAC, SB, COM_PORT, 101, 0, 1, 0xC2, 0, IAC, SE,
                                 IAC, SB, COM_PORT, 107, 0x30, IAC, SE]) + b"data\xff\xff",
        "refuses": bytes([IAC, DONT, COM_PORT, IAC, WONT, 0]) + b"plain telnet",
        "escaped-baud": bytes([IAC, DO, COM_PORT, IAC, SB, COM_PORT, 101, 0, 0, IAC, IAC, 0, IAC, SE]),
    },
    "Telnet": {
        "negotiations": b"\x03" + bytes([IAC, WILL, 1, IAC, DO, 3, IAC, WONT, 44, IAC, DONT, 0]),
        "data-and-escape": b"\x00" + b"abc" + bytes([IAC, IAC]) + b"def",
        "subnegotiation": b"\x01" + bytes([IAC, SB, COM_PORT, 107, IAC, IAC, 0x30, IAC, SE]) + b"x",
        "long-subnegotiation": b"\x10" + bytes([IAC, SB, COM_PORT]) + bytes(range(200)) + bytes([IAC, SE]),
        "broken-subnegotiation": b"\x02" + bytes([IAC, SB, 1, 2, IAC, WILL, 3]) + b"tail",
    },
    "Registry": {
        "settings": REGISTRY,
        "empty": b"",
        "header-only": b"\xef\xbb\xbfWindows Registry Editor Version 5.00\n",
        "odd-values": (b"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A\\]\n"
                       b"\"q\\\"uote\\\\\"=hex(7):61,00,00,00\n\"n\"=hex(4):01,02,03,04\n"
                       b"\"s\"=hex(1):61,62\n\"A\"=dword:ffffffff\n"),
    },
    "IniFile": {
        "flash-section": b"\x40" + b"00bf\nsector size\n" + FLASH_TABLE,
        "tiny-buffer": b"\x02" + b"01a4\nflash size\n" + FLASH_TABLE,
        "no-section": b"\xff" + b"beef\nkey\n" + FLASH_TABLE,
        "bom-and-keys": b"\x10" + b"S\nk\n" + b"\xef\xbb\xbf[s]\nk = 0x1F\nlone\n;c=1\n[t]\nk=2\n",
        "list-fills-buffer": b"\x05" + b"s\na\n" + b"[s]\na=1\n",
    },
    "FlashTable": {
        "known-chip": b"\xbf\x00" + FLASH_TABLE,
        "upper-case-section": b"\xa4\x01" + FLASH_TABLE,
        "unknown-chip": b"\x34\x12" + FLASH_TABLE,
        "empty-section": b"\x00\x00" + b"[0000]\n\n[0001]\nflash size=1\n",
    },
    "UserProgram": {
        "two-records": upl([(0x10000, b"A" * 200), (0x20000, bytes(range(64)))]),
        "whole-block": upl([(0x30000, b"\x55" * 128)]),
        "empty-record": upl([(0x40000, b""), (0x40000, b"z")]),
        "wrong-digest": upl([(0x10000, b"abc")])[:12] + b"\0" * 16 + upl([(0x10000, b"abc")])[28:],
    },
    "Console": {
        "passthrough": b"\x00" + CONSOLE_LOGIN + CONSOLE_WELCOME + b"200 targetmd" + NEWLINE +
                       stuffed(SYS, ACK | 1, b"") + stuffed(DBG, 21, STDIO_TEXT),
        "run-program": b"\x01" + CONSOLE_LOGIN + CONSOLE_WELCOME + b"200 app" + NEWLINE + b"CON:" +
                       b"200 logout" + NEWLINE,
        "refused": b"\x00" + CONSOLE_LOGIN + b"530 Bad Username/Password" + NEWLINE,
        "short-refusal": b"\x02" + CONSOLE_LOGIN + b"530 No" + NEWLINE,
        "no-newline": b"\x06" + bytes([IAC, WILL, 1, IAC, WILL, 3]) + b"220 Vex-Lon CorvixSys Console" +
                      b"Username:331 Password requiredPassword:230 User logged in.CON:200 targetmd",
    },
    "Discovery": {
        "running": discovery_reply(b"CorvixLink lab bench"),
        "full-name": discovery_reply(b"N" * 40, 255),
        "short": discovery_reply(b"short", 1)[:30],
        "request": bytes([1, 0, 0, 1]) + b"myname\0" + bytes(84 - 11),
    },
    "SupportFiles": {
        "cold-loader": bytes([0x20, 0x00, 0x41, 0x20, 0x01, 0x42, 0x80, 0x0E, 0x20]) + COLD_LOADER_END + b"tail",
        "two-end-triplets": COLD_LOADER_END + b"\x00\x00\x00" + COLD_LOADER_END,
        "pilot-bios": b"pilot BIOS\r\n\x1a" + bytes([0xCC]) + bytes(range(200)),
        "image": bytes(range(256)) * 2 + b"end",
    },
    "CommLog": {
        "infoprobe-ack": b"\x01" + stuffed(SYS, ACK | 4, INFOPROBE_REPLY),
        "write-plain": b"\x00" + unstuffed(SYS, 3, WRITE_REQUEST),
        "stdio": b"\x01" + stuffed(DBG, 21, STDIO_TEXT),
        "breakpoint": b"\x01" + stuffed(DBG, 2, struct.pack("<I", 0x12345) + b"\x13"),
        "flashdata": b"\x01" + stuffed(SYS, 10, struct.pack("<HHHH", 4096, 128, 512, 3)),
    },
}


def main():
    for target, inputs in CORPUS.items():
        folder = ROOT / target
        folder.mkdir(parents=True, exist_ok=True)
        for name, data in inputs.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
