#!/usr/bin/env python3
"""Checks what corvix-sim's console stored against a user program: every record of the program
must be in the console's memory dump (address, length with header, data), its data padded with
zeros to whole 128-byte blocks, and the console must have seen "app go".
    check-console-memory.py PROGRAM.upl MEMORY_DUMP TRANSCRIPT.json
"""
import json, struct, sys
program = open(sys.argv[1], "rb").read()
memory = open(sys.argv[2], "rb").read()
transcript = json.load(open(sys.argv[3]))
def records(data, start, limit=None):
    at, used = start, 0
    while at + 8 <= len(data) and (limit is None or used < limit):
        address, length = struct.unpack_from("<II", data, at)
        if length < 8:
            sys.exit("bad record length %d" % length)
        yield address, data[at + 8:at + length]
        at += length
        used += length
total = struct.unpack_from("<I", program, 4)[0]
stored = {}
for address, data in records(memory, 0):
    for i, b in enumerate(data):
        stored[address + i] = b
for address, data in records(program, 28, total):
    padded = data + bytes(-len(data) % 128)
    got = [stored.get(address + i) for i in range(len(padded))]
    if got != list(padded):
        sys.exit("the record at 0x%x is not stored as sent" % address)
    print("   record at 0x%05x: %d bytes stored in %d blocks" % (address, len(data), len(padded) // 128))
if not any(e.get("event") == "app-go" for e in transcript["events"]):
    sys.exit("the console never saw app go")
print("== The console stored every record and started the program (app go)")
