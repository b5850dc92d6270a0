#!/usr/bin/env python3
"""Writes docs/help/errors.html, the help page of every message a load or a dialog can show.

The messages come from the program's own tables (the LoaderError messages in
src/loader/LoaderErrors.cpp, the dialogs' "cannot be blank" checks, the flash table message of
the load session), so the page quotes them word for word; what to check for each is written
here. A message without advice, or advice for a message the program no longer has, fails.

    scripts/make-help-errors.py            write the page
    scripts/make-help-errors.py --check    exit 1 when the page is not what the sources give
"""
import html
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
PAGE = ROOT / "docs" / "help" / "errors.html"

# What to check, by LoaderError number.
CHECKS = {
    1: "The cold loader file named in Setup &gt; File Locations... does not exist or cannot be "
       "read. Choose the right file there; the detail line names the path that was tried.",
    2: "The pilot BIOS file named in Setup &gt; File Locations... does not exist or cannot be "
       "read. Choose the right file there.",
    3: "The file you asked to load does not exist (any more) or cannot be read: it may have been "
       "moved, or a recent-files entry may name an old path. Load it again with "
       "File &gt; Load Flash Image....",
    5: "The computer ran out of memory. Close other programs and load again.",
    7: "The board did not answer on the DSR line after the reset. Check that the cable is on the "
       "board's programming port, that the board has power and is in its bootstrap mode, and "
       "that the cable carries DSR; for a cable without it, clear <em>Enable Processor "
       "verification</em> in Setup &gt; Communications....",
    8: "The cold loader file could not be opened when it was to be sent. Check the path in "
       "Setup &gt; File Locations... and that the file is readable.",
    9: "The pilot BIOS file could not be opened when it was to be sent. Check the path in "
       "Setup &gt; File Locations... and that the file is readable.",
    10: "The pilot BIOS could not read the board's identification block. The board may not be "
        "the kind the pilot BIOS is made for: check the pilot BIOS file.",
    11: "The board's identification block is damaged (its checksum does not match). The board "
        "needs its identification block written again by its maker.",
    12: "The pilot BIOS refused a write request. Check the flash table entry for the board's "
        "flash (the write mode and sizes) and the cable; try a lower Max Download Baud Rate.",
    13: "The pilot BIOS did not acknowledge a packet. Usually a noisy or long cable, or a rate "
        "the line cannot carry: choose a lower Max Download Baud Rate, or Disable Baud "
        "Negotiation.",
    14: "The pilot BIOS refused a read request. Check the cable and the rates as for error 13.",
    15: "The flash ID could not be read from the board. Check the board's flash chip and the "
        "cable, then load again.",
    16: "The board's RAM size could not be read. Check the board and the cable, then load "
        "again.",
    17: "The board or device stopped answering. Check the cable or the network, that the board "
        "has power, and the rates (a lower Max Download Baud Rate). With a USB to serial "
        "converter tick <em>Use USB to Serial Converter</em>. The communication log shows the "
        "last packet that went out.",
    18: "The serial port opened but could not take its settings (baud rate, stop bits, line "
        "controls). Some adapters cannot run every rate: choose a lower Max Download Baud "
        "Rate. The detail line names the port and the system's reason.",
    19: "The serial port could not be opened. The detail line says why: a port that does not "
        "exist (check the COM number and the Ports key of the settings), no permission (add "
        "your user to the dialout group and log in again), or another program holding it "
        "(close it; <code>tarnwick-cli ports</code> shows who holds which port).",
    20: "You pressed Cancel. Nothing else is wrong; load again when ready.",
    22: "The connection failed while the load ran: the board, the device or the port went "
        "away, or the peer closed the connection. The detail line names the port or address "
        "and the reason. Check the cable or the network and load again.",
    23: "The pilot BIOS did not reach the board intact. Check the cable and the pilot BIOS "
        "file, then load again.",
    24: "The flash table (Flash.ini) named in Setup &gt; File Locations... does not exist or "
        "cannot be read. Choose the right file there.",
    25: "The user program (.upl) is shorter than its header or its records run past its end: the "
        "file is damaged or is not a user program. Build it again.",
    26: "The user program's contents do not match the MD5 digest in its header: the file was "
        "changed or damaged after it was built. Build it again.",
    27: "The board did not answer as a board running CorvixSys. Check that CorvixSys runs on "
        "it, the road in Setup &gt; Communications..., and for a serial line the port and the "
        "Bios Baud Rate. To load a flash image instead, clear Setup &gt; Load through CorvixSys.",
    28: "The board's identification block says it does not support CorvixSys. Load a flash "
        "image (clear Setup &gt; Load through CorvixSys).",
    29: "The board lacks the drivers CorvixSys needs. Load a flash image that brings them.",
    30: "The CorvixSys console answered the connection with Telnet commands we did not expect. "
        "Check that the address and port are the board's console.",
    31: "The Telnet negotiation with the CorvixSys console failed. Check the address and port "
        "and that nothing between you and the board changes the traffic.",
    32: "Logging into the CorvixSys console failed. Check the user name and password in Setup "
        "&gt; Communications....",
    33: "The board refused the console connection. Check the Control Port and that no other "
        "console session is open on the board.",
    34: "No connection could be made to the CorvixSys console. Check the Network Address and "
        "Control Port, that the board is on the network and that a firewall lets the "
        "connection through.",
    35: "The console did not greet as expected. Check the address and port, and the console "
        "texts in the settings if the console words them differently.",
    36: "The console did not ask for the user name as expected. Check the console texts in "
        "the settings.",
    37: "The user name could not be sent: the connection failed. Check the network.",
    38: "The console did not say that a password is required as expected. Check the console "
        "texts in the settings.",
    39: "The console did not ask for the password as expected. Check the console texts in the "
        "settings.",
    40: "The password could not be sent: the connection failed. Check the network.",
    41: "The console refused the login. Check the user name and password in Setup &gt; "
        "Communications....",
    42: "The console did not confirm the login as expected. Check the console texts in the "
        "settings.",
    43: "The console did not show its prompt as expected. Check the console texts in the "
        "settings.",
    44: "The passthrough command could not be sent: the connection failed. Check the network.",
    45: "The console did not confirm passthrough mode. Check the CorvixSys Target Mode Command "
        "setting and the CorvixSys version on the board.",
    46: "An internal fault of the connection. Load again; if it repeats, turn on the "
        "communication log and keep tcout.txt for the report.",
    47: "The start command (app go) could not be sent: the connection failed. The program is "
        "stored on the board; check the network and start it from the console.",
    48: "The console did not confirm the start of the program. Check on the board's console "
        "whether it runs.",
    49: "The logout command could not be sent: the connection failed. The load itself went "
        "through.",
    50: "The console did not confirm the logout. The load itself went through.",
    51: "The cold loader file is not a cold loader (it must be groups of three bytes ending in "
        "0x80 0x24 0x80). Check the path in Setup &gt; File Locations....",
    52: "The pilot BIOS file is larger than a pilot BIOS can be. Check the path in Setup &gt; "
        "File Locations....",
    53: "The image is larger than the flash the load writes into. Check that you chose the "
        "right file.",
    54: "The image could not be read while it was being written (a disk or network drive "
        "fault). Copy the file to a local disk and load again.",
}

# What to check for the other messages, by their text.
OTHER_CHECKS = {
    "Comm port cannot be blank": "Choose a Serial Port in the list.",
    "Baud rate cannot be blank": "Enter or choose a Debug Baud Rate.",
    "Network Address cannot be blank": "Enter the device's or board's dotted IPv4 address, or "
                                       "press Discovery to pick a CorvixLink device.",
    "Control port cannot be blank": "Enter the TCP port: 4244 for a CorvixLink device unless it "
                                    "was set up otherwise, 65023 for the CorvixSys console.",
    "User Name cannot be blank": "Enter the user name of the CorvixSys console.",
    "Password cannot be blank": "Enter the password of the CorvixSys console.",
    "Cold loader file name cannot be blank": "Enter or browse for the cold loader file.",
    "Pilot BIOS file name cannot be blank": "Enter or browse for the pilot BIOS file.",
    "Flash.ini file name cannot be blank": "Enter or browse for the flash table.",
    "Flash parameters for Flash ID returned from pilot bios were not found in the flash "
    "initialization file.": "The flash table has no section for the flash ID the board "
                           "reported (the communication log shows it). The load used the "
                           "table's defaults; add a section for the ID to Flash.ini.",
}

C_STRING = r'"((?:[^"\\]|\\.)*)"'
LITERALS = r'(?:"(?:[^"\\]|\\.)*"\s*)+'  # adjacent literals, as one group


def c_text(fragments):
    """The value of adjacent C string literals."""
    return "".join(re.findall(C_STRING, fragments)).encode().decode("unicode_escape")


def loader_errors():
    source = (ROOT / "src/loader/LoaderErrors.cpp").read_text()
    table = re.search(r"CodeMessage Messages\[\] = \{(.*?)\n\};", source, re.S).group(1)
    return [(int(code), c_text(texts))
            for code, texts in re.findall(r"\{(\d+),\s*(" + LITERALS + r")\}", table)]


def dialog_messages():
    found = []
    for name, dialog in (("Frmzepcommunications.cpp", "Communications Options"),
                         ("Frmzepfilelocations.cpp", "Choose File Locations")):
        source = (ROOT / "src/settings" / name).read_text()
        for text in re.findall(r'"([^"]* cannot be blank)"', source):
            if (text, dialog) not in found:
                found.append((text, dialog))
    return found


def session_messages():
    source = (ROOT / "src/load/LoadSession.cpp").read_text()
    call = re.search(r'if \(FlashParamsMissing\)\s*display_\.ShowMessage\("Error",\s*('
                     + LITERALS + r")\)", source)
    return [c_text(call.group(1))]


def page():
    errors = loader_errors()
    dialogs = dialog_messages()
    session = session_messages()
    missing = [str(code) for code, _ in errors if code not in CHECKS]
    missing += [text for text, _ in dialogs if text not in OTHER_CHECKS]
    missing += [text for text in session if text not in OTHER_CHECKS]
    stale = [str(code) for code in CHECKS if code not in dict(errors)]
    stale += [text for text in OTHER_CHECKS
              if text not in [t for t, _ in dialogs] + session]
    if missing or stale:
        sys.exit("make-help-errors: no advice for: %s; advice for no message: %s"
                 % (", ".join(missing) or "-", ", ".join(stale) or "-"))
    out = [
        "<!DOCTYPE html>",
        "<!-- Written by scripts/make-help-errors.py from the program's message tables: "
        "change that script, not this page. -->",
        '<html lang="en">', "<head>", '<meta charset="utf-8">',
        "<title>Error messages</title>", '<link rel="stylesheet" href="help.css">',
        "</head>", "<body>", '<p><a href="Mossvale.html">Contents</a></p>',
        "<h1>Error messages</h1>",
        "<p>A load that fails shows a box captioned <em>Error</em> with one of the messages "
        "below, word for word, and under <em>Show Details...</em> a line naming the port, "
        "address or file and the reason. The main window keeps both as the result of the last "
        "load. <code>tarnwick-cli</code> prints the same message after <code>Error:</code> and "
        "exits with its number.</p>",
        "<p>Some failures of the line first show a box captioned <em>error</em> from the "
        "loader with the system's own words; the <em>Error</em> box that follows is the one "
        "to look up here.</p>",
        "<h2>Load errors</h2>", "<dl>",
    ]
    for code, text in errors:
        out.append('<dt id="error%d">%d: %s</dt>' % (code, code, html.escape(text, quote=False)))
        out.append("<dd>%s</dd>" % CHECKS[code])
    out += ["</dl>", "<h2>Messages of the option dialogs</h2>",
            "<p>The dialog stays open with the cursor in the field named; nothing is changed "
            "until OK passes.</p>", "<dl>"]
    for text, dialog in dialogs:
        out.append("<dt>%s <small>(%s)</small></dt>" % (html.escape(text, quote=False), dialog))
        out.append("<dd>%s</dd>" % OTHER_CHECKS[text])
    out += ["</dl>", "<h2>Messages after a load</h2>", "<dl>"]
    for text in session:
        out.append("<dt>%s</dt>" % html.escape(text, quote=False))
        out.append("<dd>%s</dd>" % OTHER_CHECKS[text])
    out += ["</dl>", "</body>", "</html>", ""]
    return "\n".join(out)


def main():
    text = page()
    if sys.argv[1:] == ["--check"]:
        if not PAGE.exists() or PAGE.read_text() != text:
            sys.exit("make-help-errors: %s is out of date; run scripts/make-help-errors.py"
                     % PAGE.relative_to(ROOT))
        return
    PAGE.write_text(text)


if __name__ == "__main__":
    main()
