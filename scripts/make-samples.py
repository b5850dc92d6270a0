#!/usr/bin/env python3
"""Writes Tarnwick's sample files for the simulated board (corvix-sim) into samples/.

Standard library only; the output is the same on every run, so the committed files can be
checked with --check. The formats are described in samples/README.md.
"""
import argparse
import hashlib
import pathlib
import sys

COLD_LOADER_END = bytes([0x80, 0x24, 0x80])
PILOT_MARKER = 0xCC
PILOT_LOAD_ADDRESS = 0x4000  # the default "Pilot Bios Physical Adress"
COLD_LOADER_RAM = 0x2000     # where our sample cold loader's data triplets store their bytes


def xorshift32(seed):
    """An endless run of pseudo-random bytes, the same for the same seed."""
    state = seed
    while True:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        yield state & 0xFF


def take(generator, count):
    return bytes(next(generator) for _ in range(count))


def cold_loader():
    """Data triplets (address high < 0x80, address low, byte) and the end triplet."""
    program = b"corvix-sim cold loader (Tarnwick sample)\0" + take(xorshift32(0xC01D), 23)
    out = bytearray()
    for offset, value in enumerate(program):
        address = COLD_LOADER_RAM + offset
        out += bytes([(address >> 8) & 0x7F, address & 0xFF, value])
    return bytes(out + COLD_LOADER_END)


def upload_checksum(data, start=0xCCCC):
    """Two 8-bit ones'-complement sums with end-around carry, as the pilot BIOS returns them."""
    s, t = start >> 8, start & 0xFF
    for x in data:
        s += x
        if s > 0xFF:
            s = (s + 1) & 0xFF
        t += s
        if t > 0xFF:
            t = (t + 1) & 0xFF
    return (s << 8) | t


def pilot_bios():
    """A prefix without 0xCC, the marker, then the payload."""
    prefix = b"Tarnwick sample pilot BIOS for corvix-sim\r\n\x1a"
    payload = b"corvix-sim pilot bios (Tarnwick sample)\0"
    payload += take(xorshift32(0x9170), 2047 - len(payload))
    assert PILOT_MARKER not in prefix
    return prefix + bytes([PILOT_MARKER]) + payload


def pilot_header(length):
    head = PILOT_LOAD_ADDRESS.to_bytes(4, "little") + length.to_bytes(2, "little")
    return head + bytes([sum(head) & 0xFF])


def demo_image():
    header = b"TARNWICK DEMO IMAGE for corvix-sim\0"
    return header + take(xorshift32(0xDE40), 65536 - len(header))


UPL_MAGIC = b"CXUP"  # bytes 0-3 of our sample user programs; the loader does not read them


def user_program(records):
    """A user program: the 28-byte header, then one record (address, length with its 8 header
    bytes, data) per (address, data) pair."""
    body = bytearray()
    digest = hashlib.md5()
    for address, data in records:
        body += address.to_bytes(4, "little") + (len(data) + 8).to_bytes(4, "little") + data
        digest.update(data)
    header = (UPL_MAGIC + len(body).to_bytes(4, "little") + len(records).to_bytes(4, "little")
              + digest.digest())
    assert len(header) == 28
    return bytes(header + body)


def demo_program():
    """Two records: 256 bytes (two whole blocks) and 300 bytes, whose last 44 bytes go out
    as one block padded with 84 zero bytes."""
    code = b"TARNWICK DEMO PROGRAM for CorvixSys on corvix-sim\0"
    code += take(xorshift32(0x0B1E), 256 - len(code))
    data = b"demo data record\0" + take(xorshift32(0xDA7A), 300 - 17)
    return user_program([(0x00020000, code), (0x00030000, data)])


FLASH_INI = """\
; Flash table for the simulated board corvix-sim: Tarnwick's own sample, not data for any real
; chip. One section per flash ID as the pilot BIOS reports it, four lower-case hex digits.
; Keys and the values used when one is missing: sector size=128, num sectors=1, flash size=16,
; write mode=2. Write mode 1, or above 16, makes the load erase the flash first.

[00bf]
sector size=4096
num sectors=128
flash size=512
write mode=2

[01a4]
sector size=65536
num sectors=8
flash size=512
write mode=1

[0020]
sector size=8192
num sectors=64
flash size=512
write mode=17
"""


def samples():
    return {
        "coldload.bin": cold_loader(),
        "pilot.bin": pilot_bios(),
        "demo-image.bin": demo_image(),
        "demo-program.upl": demo_program(),
        "Flash.ini": FLASH_INI.encode("ascii"),
    }


def describe(files):
    pilot = files["pilot.bin"]
    marker = pilot.index(PILOT_MARKER)
    length = len(pilot) - marker
    print(f"coldload.bin   {len(files['coldload.bin'])} bytes")
    print(f"pilot.bin      {len(pilot)} bytes, marker at {marker}, length {length} "
          f"(0x{length:04x}), header {pilot_header(length).hex(' ')}, "
          f"upload checksum 0x{upload_checksum(pilot[marker + 1:]):04x}")
    print(f"demo-image.bin {len(files['demo-image.bin'])} bytes")
    upl = files["demo-program.upl"]
    print(f"demo-program.upl {len(upl)} bytes, total length "
          f"{int.from_bytes(upl[4:8], 'little')}, md5 {upl[12:28].hex()}")
    for name, data in files.items():
        print(f"  sha256 {hashlib.sha256(data).hexdigest()}  {name}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    here = pathlib.Path(__file__).resolve().parent.parent / "samples"
    parser.add_argument("--out", type=pathlib.Path, default=here, help="folder to write into")
    parser.add_argument("--check", action="store_true",
                        help="compare with the files in the folder instead of writing them")
    args = parser.parse_args()
    files = samples()
    # The worked example of the upload checksum: "abc" from 0xCCCC.
    assert upload_checksum(b"abc") == 0xF37F
    if args.check:
        stale = [n for n, d in files.items()
                 if not (args.out / n).is_file() or (args.out / n).read_bytes() != d]
        for name in stale:
            print(f"out of date: {args.out / name}", file=sys.stderr)
        return 1 if stale else 0
    args.out.mkdir(parents=True, exist_ok=True)
    for name, data in files.items():
        (args.out / name).write_bytes(data)
    describe(files)
    return 0


if __name__ == "__main__":
    sys.exit(main())
