#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Every seed is made here from first principles (the data file frame, URL lists, texts, URLs,
list operations, statistics documents), so the corpora can be rebuilt at any time:
    fuzz/make_corpus.py
Inputs that fuzzing finds and that are worth keeping are added to the folders by hand.
"""
import hashlib
import os
import random
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")

SCRAMBLE = 0xA7
DESCRIPTION = b"File description should go here!"


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# ---- Data files -------------------------------------------------------------------------------

def frame(payload, header_value=0):
    """The unscrambled file: digest of the payload, description, values A, B and the header
    value, then the payload."""
    header = hashlib.md5(payload).digest() + DESCRIPTION.ljust(100, b"\0")
    return header + struct.pack("<III", 0, 0, header_value) + payload


def scramble(data):
    return bytes(b ^ SCRAMBLE for b in data)


def key(text):
    return hashlib.md5(text.encode()).digest()[:8]


def url_list(urls, subs, domains, words=2, extra=0):
    payload = struct.pack("<IIII", words, len(urls), len(subs), len(domains) + extra)
    for section in (urls, subs, domains):
        payload += b"".join(key(entry) for entry in section)
    return payload


def datafile():
    good = url_list(["listed.example.com/path"], ["mail.sub.example.org"],
                    ["bad.com", "spam.co.uk"])
    write("datafile", "payload-list", b"\x02" + good)
    write("datafile", "payload-empty-list", b"\x02" + url_list([], [], []))
    write("datafile", "payload-wrong-words", b"\x02" + url_list([], [], ["x.com"], words=3))
    write("datafile", "payload-short", b"\x02" + url_list([], [], ["first.com"], extra=3))
    write("datafile", "payload-huge-counts", b"\x02" + struct.pack("<IIII", 2, 0xFFFFFFF0, 7, 0))
    # Typed reads: op bytes (low 3 bits the operation, the rest a length) and their values.
    write("datafile", "payload-typed-reads",
          b"\x02" + bytes([0x00, 1, 2, 0x01, 1, 2, 3, 4, 0x1A, 0xAA, 0xBB, 0xCC, 0x1B, 0x61,
                           0x62, 0x63, 0x0C, 1, 0, 0, 0, 0x07]))
    write("datafile", "plain-file", b"\x01" + frame(good))
    write("datafile", "plain-bad-digest", b"\x01" + frame(good)[:-1] + b"\x00")
    write("datafile", "disk-file", b"\x00" + scramble(frame(good, 7)))
    write("datafile", "disk-header-only", b"\x00" + scramble(frame(b"")))


# ---- UTF texts ----------------------------------------------------------------------------------

def utf():
    texts = {
        "ascii": b"Hello, World! MIXED case 0123",
        "latin": "Grüße ÀÉÎÕÜ ß ẞ İ".encode(),
        "cjk": "漢字かなカナ한국어".encode(),
        "astral": "𐐀𐐨 𞤀 😀 \U0010FFFF".encode(),
        "cyrillic-greek": "ПРИВЕТ Ελληνικά ΣΑΣ".encode(),
        "ill-formed": b"a\xc3\x28b\xed\xa0\x80c\xf4\x90\x80\x80d\x80e\xc0\xafz\xf8\x88\x80\x80\x80",
        "cut-short": b"abc\xe2\x82",
        "nul-inside": b"before\x00after \xc3\xa9",
        "utf16-pairs": "A\U0001F600B".encode("utf-16-le") + b"\x00\xd8\x41\x00",
    }
    for room, (name, text) in enumerate(sorted(texts.items())):
        write("utf", name, bytes([room * 3 % 16]) + text)


# ---- URLs ---------------------------------------------------------------------------------------

def urlkeys():
    urls = [
        (0, "http://www.Example.co.uk/path?q=1#frag"),
        (0, "https://user:pw@Mail.Sub.Example.COM:8080/x"),
        (0, "http://%77ww.ex%61mple.com/%41"),
        (0, "http://%2577ww.name.tld/"),
        (0, "http://10.0.0.1/"),
        (2 | (1 << 2), "http://10.0.0.1:8080/"),
        (0, "http://[::1]:80/"),
        (0, "http://example\u3002com\uff0ftest/"),
        (0, "http://a.b\uff0ec\uff61tld/"),
        (0, "http://name.tld:65535/"),
        (0, "http://name.tld:65534"),
        (0, "name.tld:80junk"),
        (1, "http://\ufeffwww.\ufeffbom.tld/"),
        (0, "http://a.b.c.d.e.co.uk./"),
        (0, "http://ww3.Under.Score_Host.tld/"),
        (0, "http://ÜBER.Straße.de/"),
        (0, "ftp://:/"),
    ]
    for i, (flags, url) in enumerate(urls):
        write("urlkeys", "url-%02d" % i, bytes([flags]) + url.encode())
    # Hosts from the rules' edge cases, each with and without a path and byte-order mark
    # stripping, then random hosts over the bytes that the rules care about.
    edges = (b"name.tld..|a%7e%2E|a%6f%6F|%%4141|a%4|%00a%7Fb%FFc%4g|%E3%80%82|a\xe3\x80\x82|"
             b"a\xe3\x80|a\xe3\x80\x82b\xef\xbc\x8ec\xef\xbd\xa1d|"
             b"\xef\xbb\xbfa\xef\xbb\xbfb\xef\xbb\xbf|www.name.tld.:8080|[2001:db8::1]|"
             b"name.tld:65535|name.tld:99999999999999999999|name.tld:-1|name.tld:-0|name.tld: +80|"
             b"name.tld:|a:b:81|:80|name.tld:80x|name.tld:80xy|a.b.name.tld|x.y.z.COM.au|"
             b"x.y.plc.co.im|b.co.uk|.co.uk|co.uk|a..tld|a.b.c.unknowntld|x.\xc3\x84B.Co.Uk|"
             b"a.b\xc4\xb0.co.uk|10.0.0.1|%77ww.a.tld|a\0b.c\0d.CO.uk|").split(b"|")
    pieces = (b"%|2|5|4|1|e|f|E|F|.|:|-|+| |w|W|3|6|0|a|B|\xe3\x80\x82|\xef\xbc\x8e|"
              b"\xef\xbd\xa1|\xef\xbb\xbf|\xc3\x84|\xc3|\x80|\0|.co.uk|.COM.au|www.|%2E|"
              b"%252E|65534|65535|ww5.|Ww1.|ww6.").split(b"|")
    rng = random.Random(20240611)
    hosts = edges + [b"".join(rng.choice(pieces) for _ in range(rng.randint(0, 13)))
                     for _ in range(400)]
    for i, host in enumerate(hosts):
        flags, path = i % 2, b"/p" if i % 4 >= 2 else b""
        write("urlkeys", "host-%03d" % i, bytes([flags]) + b"http://" + host + path)


# ---- Matching list operations ------------------------------------------------------------------

def matchinglist():
    sequences = {
        "exact-and-case": "eABC\neabc\nmaBc\nmabd\ne\nm\n",
        "wildcards": "w*@Evil.org\nwa?c\nmx@EVIL.org\nmabc\nmac\nmabbc\nwa*c\nmac\nmacb\n",
        "precedence": "w*\ne*b\nmsomething\nmsomeone@b\nc\nmsomeone@b\nC\nmsomeone@b\n",
        "stars-127": "w" + "*" * 127 + "\nmanything\n",
        "stars-128": "w" + "*" * 128 + "\nmanything\n",
        "duplicates": "wsame?\nwsame?\nesame\nesame\nx\u00c4pfel\nm\u00c4pfel\nmsamex\n",
        "utf8-bytes": "e\u00c4rger@x.de\nm\u00e4rger@x.de\nm\u00c4RGER@X.DE\nw*\u00c4*\nm\u00c4\n",
    }
    for name, ops in sequences.items():
        write("matchinglist", name, ops.encode())
    # Random adds and matches over a small alphabet that holds the ends of the folded range, the
    # wildcard characters and a lead byte; at most 40 wildcards per sequence keep matches cheap.
    rng = random.Random(7)
    draw = lambda most: bytes(rng.choice(b"aAzZ@[*?\xc3") for _ in range(rng.randint(0, most)))
    for n in range(30):
        ops, wildcards = b"", 0
        for _ in range(100):
            kind = rng.choice(b"ewx")
            wildcards += kind == ord("w")
            ops += bytes([kind if kind != ord("w") or wildcards <= 40 else ord("x")]) + draw(6) + b"\n"
            ops += b"m" + draw(8) + b"\n"
        write("matchinglist", "random-%02d" % n, ops)


# ---- Statistics documents ----------------------------------------------------------------------

def statistics():
    documents = {
        "asian": '{"Total": 100, "Groups": {"Other": 20, "EastAsian": 50, "European": 30},'
                 ' "Scripts": {"Han": 40, "Hiragana": 20, "Katakana": 10}}',
        "cyrillic": '{"Total": "12", "Groups": {"Other": 2, "European": 10},'
                    ' "Scripts": {"Cyrillic": 9.75, "Latin": true}}',
        "total-is-other": '{"Total": 10, "Groups": {"Other": 10}}',
        "empty-groups": '{"Total": 10, "Groups": {}, "Scripts": []}',
        "not-json": "Total: 10, Groups: none",
        "huge-values": '{"Total": 1e300, "Groups": {"Other": -9223372036854775808},'
                       ' "Scripts": {"Cyrillic": 18446744073709551615}}',
        "nested": '{"Total": [1, {"a": [2, 3]}], "Groups": {"Other": {"x": null}}}',
        "comments": '// comment\n{"Total": 5, /* inline */ "Groups": {"Latin": 5}}',
    }
    for name, document in documents.items():
        write("statistics", name, b"\x01" + document.encode())
    # Built documents: the bytes after the even first byte choose kinds and values.
    write("statistics", "built-a", bytes([0]) + bytes(range(0, 120, 3)))
    write("statistics", "built-b", bytes([2]) + bytes(range(255, 100, -4)))


if __name__ == "__main__":
    datafile()
    utf()
    urlkeys()
    matchinglist()
    statistics()
