#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/TARGET/).

The seeds are committed; this script is how they were made, so that a
changed input layout can be reseeded. Each target's layout is described
beside its entry in fuzz/TARGET_fuzz.cc.
"""
import os
import shutil
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def put(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def short(b):
    if isinstance(b, str):
        b = b.encode("utf-8")
    return bytes([len(b)]) + b


def command_file():
    for name in ("commands.xml", "invalid-command.xml", "not-well-formed.xml"):
        shutil.copy(os.path.join(ROOT, "examples", name), os.path.join(CORPUS, "command_file", name))
    put("command_file", "single-user-va.xml",
        '<?xml version="1.0" encoding="utf-8"?>\n<remoteCmd><configVA>'
        '<singleuser user="john"/><mail action="1"/><web action="0"/></configVA>'
        '<allUser action="resetUser"/><singleUser action="deleteUser" user="User"/></remoteCmd>\n')
    put("command_file", "settings.xml",
        '<remoteCmd><configPower><ac standby="1"/></configPower><configPower><dc x="&amp;&lt;"/>'
        '</configPower><configRadio wlan="off"/><configPassword minLength="4"/></remoteCmd>')
    put("command_file", "utf16.xml", '<?xml version="1.0" encoding="utf-16"?>\n'
        '<remoteCmd><singleUser action="changePassword" user="mary"/></remoteCmd>'.encode("utf-16"))


def index_file():
    # flags (1: QUARLE.000, 2: QUARLE.SYS, 4: no index file), two folders
    # to make, then the index file.
    put("index_file", "example", b"\x00" + short("SYS") + short("DATA") + b"QUARLE\r\n/SYS\r\n/DATA\r\n")
    put("index_file", "fallbacks", b"\x07" + short("") + short(""))
    put("index_file", "short-index", b"\x03" + short("a") + short("b") + b"only one line\n")
    put("index_file", "nested", b"\x00" + short("x/y") + short("x/z") + b"\n/x\\y\n\\x/z\x1a\n")
    put("index_file", "long-line", b"\x01" + short("L" * 200) + short("") + b"\n\n/" + b"L" * 200 + b"\n")


def profile():
    # a count of writes, each a section, key and value, then the file.
    def writes(*ops):
        return bytes([len(ops)]) + b"".join(short(s) + short(k) + short(v) for s, k, v in ops)
    ini = "[General]\r\nKeyboard=de\r\nLanguage=German\r\n[Access]\r\nmail=1\r\nweb=0\r\n"
    put("profile", "narrow", writes(("General", "Keyboard", "fr"), ("New", "key", " value ")) + ini.encode())
    put("profile", "utf8-mark", writes(("Access", "chat", '"1"')) + b"\xef\xbb\xbf" + ini.encode())
    put("profile", "utf16", writes(("general", "LANGUAGE", "Français")) + b"\xff\xfe" + ini.encode("utf-16-le"))
    put("profile", "utf16-be", writes(("x", "y", "z")) + b"\xfe\xff" + ini.encode("utf-16-be"))
    put("profile", "odd-lines", writes(("a", "b", "c")) + b"no header\n[a\n b = 1 \r[ ]\nk\n[a]\nb=2\n")


def encoding():
    put("encoding", "utf8", "[General]\r\nName=Jürgen 日本 🙂\r\n")
    put("encoding", "utf8-mark", b"\xef\xbb\xbf[User]\r\nkey=value\r\n")
    put("encoding", "utf16", b"\xff\xfe" + "[x]\r\ny=ä\r\n".encode("utf-16-le"))
    put("encoding", "ill-formed", b"a\x80b\xc3(\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82")


def smbios():
    # flags (1: the table cannot be had), major, minor, an absent token id,
    # then the structure table.
    def structure(stype, handle, body, strings=()):
        head = struct.pack("<BBH", stype, 4 + len(body), handle) + body
        tail = b"".join(s + b"\0" for s in strings) + b"\0" if strings else b"\0\0"
        return head + tail
    tokens = struct.pack("<HHH", 0x350, 0x100, 1) + struct.pack("<HHH", 0x351, 0x102, 1) + \
        struct.pack("<HHH", 0x352, 0x104, 0) + struct.pack("<HHH", 0xFFFF, 0, 0)
    da = structure(218, 0x10, struct.pack("<HBI", 0xB2, 0x0D, 0) + tokens)
    table = structure(0, 0, b"\x01\x02\x00\xf0\x03\xff" + b"\0" * 12, (b"Vendor", b"1.0")) + \
        structure(1, 1, b"\x01\x02\x03\x04" + b"\0" * 23, (b"Maker", b"Model")) + da + \
        structure(218, 0x11, struct.pack("<HBI", 0xB3, 0x0E, 0) + struct.pack("<HHH", 0x350, 7, 7)) + \
        structure(127, 0xFFFF, b"")
    put("smbios", "firmware", b"\x00\x03\x00\x99\x09" + table)
    put("smbios", "no-table", b"\x01\x03\x00\x00\x00" + table)
    put("smbios", "cut", b"\x00\x02\x08\x50\x03" + table[:len(table) // 2])


def emu_frame():
    def frame(*fields):
        body = struct.pack("<I", len(fields))
        for f in fields:
            if isinstance(f, str):
                f = f.encode()
            body += struct.pack("<I", len(f)) + f
        return struct.pack("<I", len(body)) + body
    port = struct.pack("<HI", 0xB2, 0x0D)
    dos = b"~\0" + b"\0" * 6 + b"\\Device\\KvxFlashVolume1\0".ljust(256, b"\0")
    put("emu_frame", "ports", frame("ping") + frame("dev.open", "KVXIO", "rw") +
        frame("dev.ioctl", "KVXIO", str(0x8010205C), port, "0") +
        frame("dev.ioctl", "KVXIO", str(0x80102058), port, "6"))
    put("emu_frame", "services", frame("scm.open", "983103") + frame("svc.query", "KvxMDES", "4") +
        frame("svc.control", "KvxMDES", "32", "134") + frame("svc.control", "KvxMDES", "32", "136") +
        frame("svc.control", "KvxMDES", "32", "135") + frame("svc.stop", "KVXIO", "32"))
    put("emu_frame", "dos-device", frame("dev.ioctl", "KVXIO", str(0x8010208C), dos, "0") +
        frame("dev.ioctl", "KVXIO", str(0x80102090), dos, "0"))
    call = struct.pack("<HHH", 0xB2, 0x0D, 0) + struct.pack("<HH4I4I", 17, 13, 0, 0, 0, 0, 0, 0, 0, 0)
    put("emu_frame", "calling-interface", frame("dev.ioctl", "KVXIO", str(0x80102068), call.ljust(139, b"\0"), "139") +
        frame("dev.ioctl", "KVXIO", str(0x80102040), struct.pack("<4I", 0, 4096, 0xF0000, 0), "16"))
    put("emu_frame", "empty-frame", frame())


def main():
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    for make in (command_file, index_file, profile, encoding, smbios, emu_frame):
        os.makedirs(os.path.join(CORPUS, make.__name__), exist_ok=True)
        make()
    return 0


if __name__ == "__main__":
    sys.exit(main())
