#!/usr/bin/env python3
"""Writes one hostile input of a given shape and size for scripts/bench_hostile.sh.

    hostile_gen.py SHAPE N OUT

Shapes (N counts the repeated unit):
  headers      a message with N distinct header names
  part-headers a multipart message of N/10,000 parts, each with 10,000 distinct header names
  empty-parts  a multipart message of N empty text/plain parts
  nesting      N multiparts nested in one another, a listed URL in the innermost part
  long-line    a text/plain body of one line of N bytes
  text-urls    a text/plain body with N URLs
  html-urls    an HTML body with N links
  addresses    an address list of N expressions (one per line)
  url-list     a URL list of N entries (one per line), for molvex-urldb build
"""
import sys

HEAD = "From: a@sender.example\nTo: b@rcpt.example\nSubject: bench\nMIME-Version: 1.0\n"


def lines_of(shape, n):
    if shape == "headers":
        yield HEAD
        for i in range(n):
            yield "X-H%d: v\n" % i
        yield "\nbody\n"
    elif shape == "part-headers":
        yield HEAD + 'Content-Type: multipart/mixed; boundary="b"\n\n'
        for part in range(max(1, n // 10000)):
            yield "--b\nContent-Type: text/plain\n"
            for i in range(10000):
                yield "X-H%d: v\n" % i
            yield "\nbody\n"
        yield "--b--\n"
    elif shape == "empty-parts":
        yield HEAD + 'Content-Type: multipart/mixed; boundary="b"\n\n'
        for _ in range(n):
            yield "--b\nContent-Type: text/plain\n\n\n"
        yield "--b--\n"
    elif shape == "nesting":
        yield HEAD
        for i in range(n):
            yield 'Content-Type: multipart/mixed; boundary="b%d"\n\n--b%d\n' % (i, i)
        yield "Content-Type: text/plain\n\nhttp://www.cheap-pills.example/x\n"
        for i in reversed(range(n)):
            yield "--b%d--\n" % i
    elif shape == "long-line":
        yield HEAD + "Content-Type: text/plain\n\n"
        chunk = "abcdefghij" * 6553 + "\t"
        for _ in range(n // len(chunk)):
            yield chunk
        yield "x" * (n % len(chunk)) + "\n"
    elif shape == "text-urls":
        yield HEAD + "Content-Type: text/plain\n\n"
        for i in range(n):
            yield "see http://host%d.example/p?q=%d now\n" % (i, i)
    elif shape == "html-urls":
        yield HEAD + "Content-Type: text/html\n\n<html><body>\n"
        for i in range(n):
            yield '<a href="http://host%d.example/p?q=%d">link</a>\n' % (i, i)
        yield "</body></html>\n"
    elif shape == "addresses":
        for i in range(n):
            yield "user%d@domain%d.example\n" % (i, i % 1000)
    elif shape == "url-list":
        for i in range(n):
            yield "host%d.example/path/%d\n" % (i, i)
    else:
        sys.exit("unknown shape " + shape)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    shape, n, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with open(out, "w", encoding="ascii", newline="\n") as f:
        buffer = []
        for line in lines_of(shape, n):
            buffer.append(line)
            if len(buffer) >= 4096:
                f.write("".join(buffer))
                buffer.clear()
        f.write("".join(buffer))


if __name__ == "__main__":
    main()
