#!/usr/bin/env python3
"""Mutation check of the module's C++ sources.

Plants one small fault (a mutant) at a time in the sources under as/, engines/, common/,
glyphkit/ and host/, rebuilds the build folder incrementally and runs the CTest suite. A mutant that makes
a test fail (or time out) is killed; one that leaves every test passing survived, which points
at a fault the tests would not catch (or at a mutant that cannot change behaviour); one that does
not compile is stillborn and not counted. The score is killed / (killed + survived).

Run by hand, single-threaded: the mutated file is the only change made to the tree, its original
bytes stay in memory and in a backup under the build folder until they are written back, which
happens after every mutant, on exceptions and on SIGINT/SIGTERM/SIGHUP. A backup left behind by a
killed run blocks the next run until it is restored (--restore).

    scripts/mutants.py --list [--only REGEX]            candidates, nothing is built
    scripts/mutants.py --sample 40 --seed 1             a reproducible sample of them
"""

import argparse
import bisect
import json
import os
import random
import re
import shlex
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SOURCE_DIRS = ("as", "engines", "common", "glyphkit", "host")
# Generated tables and sources that the Linux build does not compile.
SKIP_NAME = re.compile(r"(_tables?\.cpp|^platform_win32\.cpp|^md5_win32\.cpp)$")
BACKUP_NAME = "mutants-backup"
BUILD_TIMEOUT = 900  # an incremental build takes minutes; longer means a built tool hangs
# Output of a compiler or linker that rejected the mutated source.
COMPILE_ERROR = re.compile(r": (fatal )?error:|undefined reference|ld returned|Error \d+.*\.o\]")

# Macros the Linux build (GCC, x86-64) defines or leaves undefined; code under a condition
# that decides to false with them is not compiled and gets no mutants. Other conditions count
# as true.
KNOWN_DEFINED = {"__GNUC__", "__GNUG__", "__linux__", "__unix__", "__x86_64__", "__cplusplus"}
KNOWN_UNDEFINED = {"_WIN32", "_WIN64", "_MSC_VER", "_M_X64", "_M_IX86", "_M_ARM64",
                   "__MINGW32__", "__MINGW64__", "__APPLE__"}

KEYWORDS = set("""
alignas alignof and asm auto bool break case catch char char16_t char32_t char8_t class co_await
co_return co_yield concept const consteval constexpr constinit const_cast continue decltype
default delete do double dynamic_cast else enum explicit export extern float for friend goto if
inline int long mutable namespace new noexcept not operator or private protected public register
reinterpret_cast requires return short signed sizeof static static_assert static_cast struct
switch template thread_local throw try typedef typeid typename union unsigned using virtual void
volatile wchar_t while
""".split())
OPERAND_KEYWORDS = {"this", "true", "false", "nullptr"}
TYPE_WORDS = {"bool", "char", "int", "long", "short", "unsigned", "signed", "float", "double",
              "void", "wchar_t", "char8_t", "char16_t", "char32_t", "auto", "const", "volatile"}
# First words of lines that are not simple statements.
NOT_STATEMENT = KEYWORDS - {"delete", "throw", "break", "continue", "goto", "this"}
NOT_CALL = KEYWORDS | {"defined"}
# Macro arguments are not call arguments: swapping them mostly breaks the build.
MACRO_NAME = re.compile(r"^[A-Z][A-Z0-9_]*$")

PUNCTUATORS = sorted("""
<<= >>= <=> ... ->* :: << >> <= >= == != && || ++ -- -> += -= *= /= %= &= |= ^= ## .*
{ } [ ] ( ) ; : , . ? ~ ! + - * / % ^ & | = < > #
""".split(), key=len, reverse=True)
PUNCT_RE = re.compile("|".join(re.escape(p) for p in PUNCTUATORS))
IDENT_RE = re.compile(r"[A-Za-z_]\w*")
NUMBER_RE = re.compile(r"(?:\d|\.\d)(?:[eEpP][+-]|'(?=\w)|[\w.])*")
INT_RE = re.compile(r"(0[xX][0-9a-fA-F]+|0[bB][01]+|0|[1-9]\d*)([uUlLzZ]*)")

CODE, COMMENT, STRING, CHAR = range(4)
PP_NONE, PP_DEFINE, PP_OTHER, PP_INACTIVE = range(4)


# ----------------------------------------------------------------------------------------------
# Lexing: which characters are code, comments or literals, and which lines are preprocessor
# directives, macro bodies or code left out by a conditional.

def lex(text):
    """Returns (kind per char, {literal start: end}) for comments, strings and char literals."""
    n = len(text)
    kind = bytearray(n)
    lits = {}
    i = 0
    while i < n:
        c = text[i]
        nxt = text[i + 1] if i + 1 < n else ""
        if c == "/" and nxt == "/":
            j = text.find("\n", i)
            j = n if j < 0 else j
            kind[i:j] = bytes([COMMENT]) * (j - i)
            i = j
        elif c == "/" and nxt == "*":
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            kind[i:j] = bytes([COMMENT]) * (j - i)
            i = j
        elif c == '"' or c == "'":
            k = i
            while k > 0 and (text[k - 1].isalnum() or text[k - 1] == "_") and kind[k - 1] == CODE:
                k -= 1
            prefix = text[k:i]
            if c == "'" and prefix[:1].isdigit():  # digit separator: 1'000
                i += 1
                continue
            if prefix not in ("", "u8", "u", "U", "L", "R", "u8R", "uR", "UR", "LR"):
                k, prefix = i, ""
            if c == '"' and prefix.endswith("R"):
                m = text.find("(", i + 1)
                close = ")" + text[i + 1:m] + '"'
                end = text.find(close, m)
                end = n if end < 0 else end + len(close)
            else:
                j = i + 1
                while j < n and text[j] != c and text[j] != "\n":
                    j += 2 if text[j] == "\\" else 1
                end = min(j + 1, n)
            lit = STRING if c == '"' else CHAR
            kind[k:end] = bytes([lit]) * (end - k)
            lits[k] = end
            i = end
        else:
            i += 1
    return kind, lits


def condition_value(expr):
    """True/False when the #if expression decides with the known macros, None otherwise."""
    def repl(m):
        name = m.group(1) or m.group(2)
        return " True " if name in KNOWN_DEFINED else " False " if name in KNOWN_UNDEFINED else " ? "
    e = re.sub(r"defined\s*\(\s*(\w+)\s*\)|defined\s+(\w+)", repl, expr)
    e = e.replace("&&", " and ").replace("||", " or ").replace("!", " not ")
    words = re.findall(r"\S+?(?=[\s()]|$)|[()]", e)
    if not words or any(w not in ("True", "False", "and", "or", "not", "(", ")") for w in words):
        return None
    try:
        return bool(eval(" ".join(words), {"__builtins__": {}}, {}))  # only the words above
    except SyntaxError:
        return None


def ifdef_value(name, negate):
    v = True if name in KNOWN_DEFINED else False if name in KNOWN_UNDEFINED else None
    return None if v is None else (v != negate)


def preprocessor_map(text, kind):
    """Per char: PP_NONE, PP_DEFINE (a #define's lines), PP_OTHER (other directives) or
    PP_INACTIVE (lines a conditional leaves out of the Linux build)."""
    pp = bytearray(len(text))
    stack = []  # [parent_active, taken (None = undecided), active]
    active = True
    pos = 0
    lines = text.split("\n")
    idx = 0
    while idx < len(lines):
        start = pos
        first = len(lines[idx]) - len(lines[idx].lstrip())
        logical = [lines[idx]]
        while logical[-1].rstrip("\r").endswith("\\") and idx + 1 < len(lines):
            idx += 1
            logical.append(lines[idx])
        end = start + sum(len(x) + 1 for x in logical)
        pos = end
        idx += 1
        is_directive = (lines and logical[0][first:first + 1] == "#"
                        and kind[start + first] == CODE)
        if not is_directive:
            if not active:
                pp[start:min(end, len(text))] = bytes([PP_INACTIVE]) * (min(end, len(text)) - start)
            continue
        body = "".join(ch for ch, k in zip(text[start:end], kind[start:end]) if k != COMMENT)
        body = body.replace("\\\n", " ")
        m = re.match(r"\s*#\s*(\w*)\s*(.*)", body, re.S)
        name, rest = m.group(1), m.group(2).strip()
        if name in ("if", "ifdef", "ifndef"):
            if name == "if":
                v = condition_value(rest)
            else:
                v = ifdef_value(rest.split()[0] if rest else "", name == "ifndef")
            stack.append([active, v, active and (v is not False)])
        elif name == "elif" and stack:
            parent, taken, _ = stack[-1]
            if taken is None:
                stack[-1][2] = parent
            elif taken:
                stack[-1][2] = False
            else:
                v = condition_value(rest)
                stack[-1][1] = v
                stack[-1][2] = parent and (v is not False)
        elif name == "else" and stack:
            parent, taken, _ = stack[-1]
            stack[-1][2] = parent if taken is None else (parent and not taken)
            stack[-1][1] = None if taken is None else True
        elif name == "endif" and stack:
            stack.pop()
        mark = PP_DEFINE if (name == "define" and active) else (PP_OTHER if active else PP_INACTIVE)
        end = min(end, len(text))
        pp[start:end] = bytes([mark]) * (end - start)
        active = stack[-1][2] if stack else True
    return pp


class Tok:
    __slots__ = ("type", "text", "start", "end", "line", "encl", "match", "brace")

    def __init__(self, type_, text, start, end, line):
        self.type, self.text, self.start, self.end, self.line = type_, text, start, end, line
        self.encl = None  # index of the innermost open bracket around this token
        self.match = None  # for brackets: index of the partner
        self.brace = None  # for "{": "block", "init" or "scope"


def tokenize(text, kind, lits, pp, line_of):
    """Token streams: the code outside directives, and one per #define body."""
    streams, main, current_define = [], [], None
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        p = pp[i]
        if kind[i] == COMMENT or c.isspace() or p in (PP_OTHER, PP_INACTIVE):
            if p != PP_DEFINE and current_define is not None:
                streams.append(current_define)
                current_define = None
            i += 1
            continue
        if kind[i] in (STRING, CHAR):
            end = lits[i]
            tok = Tok("str" if kind[i] == STRING else "chr", text[i:end], i, end, line_of(i))
        else:
            m = IDENT_RE.match(text, i) or NUMBER_RE.match(text, i)
            if m and m.start() == i:
                t = "id" if IDENT_RE.match(text, i) else "num"
                tok = Tok(t, m.group(0), i, m.end(), line_of(i))
            else:
                m = PUNCT_RE.match(text, i)
                end = m.end() if m else i + 1
                tok = Tok("op", text[i:end], i, end, line_of(i))
        if p == PP_DEFINE:
            if current_define is None:
                current_define = []
            current_define.append(tok)
        else:
            if current_define is not None:
                streams.append(current_define)
                current_define = None
            main.append(tok)
        i = tok.end
    if current_define is not None:
        streams.append(current_define)
    if streams:
        # A define's own stream starts after "# define NAME(params)".
        streams = [s[3:] for s in streams]
    for s in [main] + streams:
        link_brackets(s)
    return main, streams


def link_brackets(toks):
    pairs = {")": "(", "]": "[", "}": "{"}
    stack = []
    for idx, t in enumerate(toks):
        t.encl = stack[-1] if stack else None
        if t.type != "op":
            continue
        if t.text in ("(", "[", "{"):
            if t.text == "{":
                t.brace = classify_brace(toks, idx)
            stack.append(idx)
        elif t.text in pairs and stack and toks[stack[-1]].text == pairs[t.text]:
            open_idx = stack.pop()
            toks[open_idx].match = idx
            t.match = open_idx
            t.encl = stack[-1] if stack else None


def classify_brace(toks, idx):
    """"block" (a function or statement body), "init" (a braced initializer) or "scope"
    (namespace, class, enum, extern "C")."""
    parent = toks[idx].encl
    parent_kind = toks[parent].brace if parent is not None and toks[parent].text == "{" else None
    if parent is not None and toks[parent].text in ("(", "["):
        return "init"
    if idx == 0:
        return "scope"
    prev = toks[idx - 1]
    if prev.text in (")", "const", "override", "noexcept", "final", "mutable", "else", "do",
                     "try", "]"):
        return "block"
    if prev.text in (";", "}", "{"):
        return parent_kind if parent_kind in ("block", "init") else "scope"
    if prev.text == ":":
        return "block"
    if prev.type == "str":
        return "scope"
    if prev.type == "id" or prev.text == ">":
        j = idx - 1
        while j >= 0 and toks[j].text not in (";", "{", "}"):
            if toks[j].text in ("namespace", "class", "struct", "union", "enum", "extern"):
                return "scope"
            j -= 1
        return "init"
    return "init"


# ----------------------------------------------------------------------------------------------
# Mutation operators. Each yields (operator, start, end, replacement) on the file's text.

def is_operand_end(t):
    if t.type in ("num", "str", "chr"):
        return True
    if t.type == "id":
        return t.text not in KEYWORDS or t.text in OPERAND_KEYWORDS
    return t.text in (")", "]")


def spaced(text, t):
    return (t.start > 0 and text[t.start - 1].isspace()
            and t.end < len(text) and text[t.end].isspace())


def binary_op(text, toks, idx):
    return idx > 0 and spaced(text, toks[idx]) and is_operand_end(toks[idx - 1])


def int_literal(t):
    if t.type != "num":
        return None
    m = INT_RE.fullmatch(t.text.replace("'", ""))
    return m


def shifted_literal(m, delta):
    digits, suffix = m.group(1), m.group(2)
    if digits[:2] in ("0x", "0X"):
        value = int(digits, 16) + delta
        if value < 0:
            return "-1" + suffix
        body = "%0*x" % (len(digits) - 2, value)
        return digits[:2] + (body.upper() if digits[2:] != digits[2:].lower() else body) + suffix
    if digits[:2] in ("0b", "0B"):
        value = int(digits[2:], 2) + delta
        return ("-1" if value < 0 else digits[:2] + format(value, "b")) + suffix
    return str(int(digits) + delta) + suffix


CMP_FLIP = {"<": ">=", ">": "<=", "<=": ">", ">=": "<", "==": "!=", "!=": "=="}
CMP_BOUNDARY = {"<": "<=", ">": ">=", "<=": "<", ">=": ">"}


def in_static_assert(toks, idx):
    """Whether the token is inside the arguments of a static_assert (compile-time only)."""
    k = toks[idx].encl
    while k is not None:
        if toks[k].text == "(" and k > 0 and toks[k - 1].text == "static_assert":
            return True
        k = toks[k].encl
    return False


def token_mutants(text, toks):
    for idx, t in enumerate(toks):
        if in_static_assert(toks, idx):
            continue
        if t.type == "op" and t.text in CMP_FLIP and binary_op(text, toks, idx):
            yield "cmp-flip", t.start, t.end, CMP_FLIP[t.text]
            if t.text in CMP_BOUNDARY:
                yield "cmp-boundary", t.start, t.end, CMP_BOUNDARY[t.text]
            for side in (toks[idx - 1], toks[idx + 1] if idx + 1 < len(toks) else None):
                m = side is not None and int_literal(side)
                if m:
                    yield "lit-plus1", side.start, side.end, shifted_literal(m, 1)
                    yield "lit-minus1", side.start, side.end, shifted_literal(m, -1)
        elif t.type == "op" and t.text in ("&&", "||") and binary_op(text, toks, idx):
            yield "logic-swap", t.start, t.end, "||" if t.text == "&&" else "&&"
        elif t.type == "op" and t.text in ("+", "-") and binary_op(text, toks, idx):
            one = toks[idx + 1] if idx + 1 < len(toks) else None
            after = toks[idx + 2] if idx + 2 < len(toks) else None
            m = one is not None and int_literal(one)
            if m and m.group(1) == "1" and (after is None or after.text not in
                                            ("*", "/", "%", ".", "(", "[", "->", "++", "--")):
                start = t.start
                while start > toks[idx - 1].end and text[start - 1] in " \t":
                    start -= 1
                yield "drop-one", start, one.end, ""
        elif t.type == "id" and t.text == "return" and idx + 2 < len(toks):
            b = toks[idx + 1]
            if b.text in ("true", "false") and toks[idx + 2].text == ";":
                yield "return-bool", b.start, b.end, "false" if b.text == "true" else "true"
        elif t.type == "str":
            yield from string_mutants(toks, idx)
        elif (t.type == "id" and t.text not in NOT_CALL and not MACRO_NAME.match(t.text)
              and idx + 1 < len(toks)
              and toks[idx + 1].text == "(" and toks[idx + 1].start == t.end):
            yield from swap_mutants(text, toks, idx + 1)


def string_mutants(toks, idx):
    t = toks[idx]
    if t.encl is None or toks[t.encl].text != "{" or toks[t.encl].brace != "init":
        return
    prev, nxt = toks[idx - 1], toks[idx + 1] if idx + 1 < len(toks) else None
    if not (prev.text in ("{", ",") or prev.type == "str"):
        return
    if nxt is None or not (nxt.text in (",", "}") or nxt.type == "str"):
        return
    q = t.text.index('"')
    if t.text[:q].endswith("R"):
        return
    body = t.text[q + 1:-1]
    if not body:
        return
    # Characters of the body, an escape sequence counting as one.
    units, i = [], 0
    while i < len(body):
        j = i + 2 if body[i] == "\\" else i + 1
        if body[i] == "\\" and i + 1 < len(body) and body[i + 1] in "xX01234567":
            while j < len(body) and body[j] in "0123456789abcdefABCDEF":
                j += 1
        units.append((i, j))
        i = j
    base = t.start + q + 1
    for a, b in units:
        ch = body[a:b]
        if len(ch) == 1 and ch.isascii() and ch.isalpha():
            yield "string-case", base + a, base + b, ch.swapcase()
            break
    a, b = units[-1]
    yield "string-drop", base + a, base + b, ""


def simple_arg(part):
    """An identifier path (a.b, a->b, a::b) or a single literal, with at most one unary
    operator in front."""
    if part and part[0].text in ("&", "*", "!", "-", "~"):
        part = part[1:]
    if len(part) == 1 and part[0].type in ("num", "str", "chr"):
        return True
    if not part or len(part) % 2 == 0:
        return False
    for k, t in enumerate(part):
        if k % 2 == 0:
            if t.type != "id" or t.text in TYPE_WORDS or t.text.endswith("_t") or (
                    t.text in KEYWORDS and t.text not in OPERAND_KEYWORDS):
                return False
        elif t.text not in (".", "->", "::"):
            return False
    return True


def swap_mutants(text, toks, open_idx):
    close = toks[open_idx].match
    if close is None:
        return
    parts, cur = [], []
    for k in range(open_idx + 1, close):
        t = toks[k]
        if t.text == "," and t.encl == open_idx:
            parts.append(cur)
            cur = []
        else:
            cur.append(t)
    parts.append(cur)
    if len(parts) != 2 or not all(simple_arg(p) for p in parts):
        return
    a = text[parts[0][0].start:parts[0][-1].end]
    b = text[parts[1][0].start:parts[1][-1].end]
    if a == b:
        return
    between = text[parts[0][-1].end:parts[1][0].start]
    yield "arg-swap", parts[0][0].start, parts[1][-1].end, b + between + a


def is_declaration(toks):
    """A line whose tokens read "Type[<...>][::Name]... [*&const] name" followed by = ; ( { [ ,"."""
    if toks[0].text in ("delete", "throw", "goto", "break", "continue"):
        return False
    k = 0
    if toks[k].text == "::":
        k += 1
    if k >= len(toks) or toks[k].type != "id":
        return False
    k += 1
    while k < len(toks):
        if toks[k].text == "::" and k + 1 < len(toks) and toks[k + 1].type == "id":
            k += 2
        elif toks[k].text == "<":
            depth = 0
            while k < len(toks):
                depth += {"<": 1, ">": -1, ">>": -2}.get(toks[k].text, 0)
                k += 1
                if depth <= 0:
                    break
        else:
            break
    while k < len(toks) and toks[k].text in ("*", "&", "&&", "const"):
        k += 1
    return (k + 1 < len(toks) and toks[k].type == "id"
            and toks[k + 1].text in ("=", ";", "(", "{", "[", ",", ":"))


def statement_mutants(text, toks, line_starts):
    by_line = {}
    for idx, t in enumerate(toks):
        by_line.setdefault(t.line, []).append(idx)
    for line, idxs in sorted(by_line.items()):
        first, last = idxs[0], idxs[-1]
        line_toks = [toks[k] for k in idxs]
        if toks[last].text != ";" or sum(1 for t in line_toks if t.text == ";") != 1:
            continue
        if toks[first].text in NOT_STATEMENT or toks[first].text in ("}", "{", "#"):
            continue
        if any(t.text in ("{", "}") for t in line_toks):
            continue
        if any(t.match is not None and (t.match < first or t.match > last) for t in line_toks):
            continue
        if first == 0:
            continue
        prev = toks[first - 1]
        if prev.text == ":":
            label_line = [t for t in toks[:first] if t.line == prev.line]
            if not label_line or label_line[0].text not in ("case", "default"):
                continue
        elif prev.text not in (";", "{", "}"):
            continue
        encl = toks[first].encl
        if encl is None or toks[encl].text != "{" or toks[encl].brace != "block":
            continue
        if is_declaration(line_toks) or toks[first].text == "static_assert":
            continue
        start = line_starts[line - 1]
        end = line_starts[line] if line < len(line_starts) else len(text)
        yield "stmt-remove", start, end, ""


def line_starts_of(text):
    starts = [0]
    for m in re.finditer("\n", text):
        starts.append(m.end())
    return starts


class Mutant:
    def __init__(self, path, text, line_starts, op, start, end, repl):
        self.path, self.op, self.start, self.end, self.repl = path, op, start, end, repl
        self.line = bisect.bisect_right(line_starts, start)
        ls = line_starts[self.line - 1]
        self.col = start - ls + 1
        le = text.find("\n", max(end - 1, start))
        le = len(text) if le < 0 else le
        if op == "stmt-remove":
            self.before, self.after = text[start:end].strip(), "(removed)"
        else:
            # The changed line(s), cut to a window around the change when long.
            lo, hi = ls, le
            if hi - lo > 90:
                lo, hi = max(ls, start - 35), min(le, end + 35)
                # Whole words only at the cut ends.
                while lo > ls and not text[lo - 1].isspace() and lo < start:
                    lo += 1
                while hi < le and not text[hi].isspace() and hi > end:
                    hi -= 1
            self.before = " ".join(text[lo:hi].split())
            self.after = " ".join((text[lo:start] + repl + text[end:hi]).split())

    def key(self):
        return (self.path, self.line, self.col, self.op, self.repl)

    def apply(self, original):
        text = original.decode("utf-8")
        return (text[:self.start] + self.repl + text[self.end:]).encode("utf-8")

    def describe(self):
        return "%s:%d  %s  %s -> %s" % (self.path, self.line, self.op, self.before, self.after)


def source_files(only):
    files = []
    for d in SOURCE_DIRS:
        for p in sorted((ROOT / d).rglob("*")):
            if p.suffix in (".cpp", ".h") and p.is_file() and not SKIP_NAME.search(p.name):
                rel = p.relative_to(ROOT).as_posix()
                if only is None or re.search(only, rel):
                    files.append(rel)
    return sorted(files)


def enumerate_mutants(files):
    mutants = []
    for rel in files:
        text = (ROOT / rel).read_bytes().decode("utf-8")
        kind, lits = lex(text)
        pp = preprocessor_map(text, kind)
        starts = line_starts_of(text)

        def line_of(pos):
            return bisect.bisect_right(starts, pos)
        main, defines = tokenize(text, kind, lits, pp, line_of)
        found = []
        for stream in [main] + defines:
            found.extend(token_mutants(text, stream))
        found.extend(statement_mutants(text, main, starts))
        seen = set()
        for op, s, e, r in found:
            if text[s:e] == r or (op, s, e, r) in seen:
                continue
            seen.add((op, s, e, r))
            mutants.append(Mutant(rel, text, starts, op, s, e, r))
    mutants.sort(key=Mutant.key)
    return mutants


# ----------------------------------------------------------------------------------------------
# Running: one mutant at a time, the original always written back.

class Interrupted(Exception):
    pass


RUNNING = set()  # child processes (each leads its own process group)
DEFERRED = []  # signals that arrived while a file was being restored
RESTORING = [False]


def on_signal(signum, _frame):
    for p in list(RUNNING):
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    if RESTORING[0]:
        DEFERRED.append(signum)
        return
    raise Interrupted(signal.Signals(signum).name)


def run(cmd, timeout):
    """(exit code or None on timeout, combined output)."""
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         start_new_session=True, cwd=ROOT)
    RUNNING.add(p)
    try:
        out, _ = p.communicate(timeout=timeout)
        return p.returncode, out.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, _ = p.communicate()
        return None, out.decode("utf-8", "replace")
    finally:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
        RUNNING.discard(p)


class Backup:
    """The original of the file under mutation, kept under the build folder until restored."""

    def __init__(self, build_dir):
        self.dir = build_dir / BACKUP_NAME

    def leftover(self):
        note = self.dir / "RESTORE"
        return note.read_text().strip() if note.exists() else None

    def save(self, rel, original):
        self.dir.mkdir(parents=True, exist_ok=True)
        copy = self.dir / "original"
        with open(copy, "wb") as f:
            f.write(original)
            f.flush()
            os.fsync(f.fileno())
        note = self.dir / "RESTORE"
        with open(note, "w") as f:
            f.write(rel + "\n")
            f.flush()
            os.fsync(f.fileno())

    def restore_leftover(self):
        rel = self.leftover()
        data = (self.dir / "original").read_bytes()
        (ROOT / rel).write_bytes(data)
        self.clear()
        return rel

    def clear(self):
        for name in ("original", "RESTORE"):
            try:
                (self.dir / name).unlink()
            except FileNotFoundError:
                pass
        try:
            self.dir.rmdir()
        except OSError:
            pass


def write_back(path, original, backup):
    """Writes the original bytes back (signals held until done) and drops the backup."""
    RESTORING[0] = True
    try:
        path.write_bytes(original)
        if path.read_bytes() != original:
            raise RuntimeError("%s: restoring the original failed; the backup under %s "
                               "holds it" % (path, backup.dir))
        backup.clear()
    finally:
        RESTORING[0] = False
    if DEFERRED:
        raise Interrupted(signal.Signals(DEFERRED[0]).name)


def test_mutant(m, args, backup):
    path = ROOT / m.path
    original = path.read_bytes()
    mutated = m.apply(original)
    backup.save(m.path, original)
    began = time.time()
    try:
        path.write_bytes(mutated)
        code, out = run(["cmake", "--build", str(args.build), "-j", str(args.jobs)],
                        BUILD_TIMEOUT)
        if code != 0:
            # The build runs some of what it builds (the test programs list their tests, the
            # URL list tool compiles the sample lists): a mutant that compiles but breaks one of
            # those steps is caught, not stillborn.
            if code is not None and not COMPILE_ERROR.search(out):
                steps = [l.strip() for l in out.splitlines() if re.search(r"\*\*\*.*Error", l)]
                return "killed", "build step failed: " + (steps[0] if steps else "?"), \
                    time.time() - began
            if code is None:  # the build runs the URL list tool: a mutant can make it loop
                return "killed", "build step hung", time.time() - began
            errors = [l.strip() for l in out.splitlines() if re.search(r"error|Error \d", l)]
            return "stillborn", "build failed: " + " | ".join(errors[:3]), time.time() - began
        cmd = ["ctest", "--test-dir", str(args.build), "-j", str(args.jobs), "--timeout",
               str(args.timeout), "--stop-on-failure"] + shlex.split(args.ctest_args)
        code, out = run(cmd, args.timeout * 3 + 60)
        took = time.time() - began
        if code is None:
            return "killed", "suite timed out", took
        if code != 0:
            failed = re.findall(r"^\s*\d+ - (\S+) \((\w+)\)", out, re.M)
            return "killed", ", ".join("%s (%s)" % f for f in failed[:3]) or "ctest failed", took
        return "survived", "", took
    finally:
        write_back(path, original, backup)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--list", action="store_true", help="print the candidates, run nothing")
    ap.add_argument("--sample", type=int, metavar="N", help="pick N candidates at random")
    ap.add_argument("--seed", type=int, default=0, help="seed of the sample (default 0)")
    ap.add_argument("--only", metavar="FILE_REGEX", help="only files whose path matches")
    ap.add_argument("--build", type=Path, default=Path("build"), help="build folder (build)")
    ap.add_argument("--jobs", type=int, default=2, help="parallel jobs of build and ctest (2)")
    ap.add_argument("--timeout", type=int, default=300, help="seconds per test (300)")
    ap.add_argument("--ctest-args", default="", help="extra ctest arguments, one string")
    ap.add_argument("--json", type=Path, metavar="FILE", help="also write the results here")
    ap.add_argument("--restore", action="store_true",
                    help="write back the original left by an interrupted run, then stop")
    args = ap.parse_args()
    if not args.build.is_absolute():
        args.build = (Path.cwd() / args.build).resolve()

    backup = Backup(args.build)
    if args.restore:
        if backup.leftover() is None:
            print("mutants: nothing to restore under %s" % backup.dir)
            return 0
        print("mutants: restored %s" % backup.restore_leftover())
        return 0

    mutants = enumerate_mutants(source_files(args.only))
    if args.sample is not None:
        picked = random.Random(args.seed).sample(range(len(mutants)),
                                                 min(args.sample, len(mutants)))
        mutants = [mutants[i] for i in sorted(picked)]
    if args.list:
        for m in mutants:
            print(m.describe())
        counts = {}
        for m in mutants:
            counts[m.op] = counts.get(m.op, 0) + 1
        print("%d candidates: %s" % (len(mutants), ", ".join(
            "%s %d" % kv for kv in sorted(counts.items()))), file=sys.stderr)
        return 0

    left = backup.leftover()
    if left is not None:
        print("mutants: an interrupted run left %s mutated; its original is in %s/original.\n"
              "Restore it with\n    %s --restore --build %s\nor by hand with\n"
              "    cp '%s/original' '%s' && rm -r '%s'"
              % (left, backup.dir, sys.argv[0], args.build, backup.dir, ROOT / left,
                 backup.dir), file=sys.stderr)
        return 2
    if not (args.build / "CMakeCache.txt").exists():
        print("mutants: %s is not a configured build folder (cmake --preset default)"
              % args.build, file=sys.stderr)
        return 2

    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)
    originals = {m.path: (ROOT / m.path).read_bytes() for m in mutants}
    began = time.time()
    results = []
    try:
        print("mutants: %d mutants; checking that the unmutated tree builds and passes"
              % len(mutants), file=sys.stderr, flush=True)
        code, out = run(["cmake", "--build", str(args.build), "-j", str(args.jobs)],
                        BUILD_TIMEOUT)
        if code != 0:
            print(out[-4000:] + "\nmutants: the unmutated tree does not build", file=sys.stderr)
            return 2
        code, out = run(["ctest", "--test-dir", str(args.build), "-j", str(args.jobs),
                         "--timeout", str(args.timeout)] + shlex.split(args.ctest_args),
                        args.timeout * 3 + 60)
        if code != 0:
            print(out[-4000:] + "\nmutants: the suite fails without mutants", file=sys.stderr)
            return 2
        for m in mutants:
            status, detail, took = test_mutant(m, args, backup)
            results.append((m, status, detail, took))
            print("%-9s  %s" % (status, m.describe()), flush=True)
    except Interrupted as e:
        print("mutants: stopped by %s; the sources are restored" % e, file=sys.stderr)
    finally:
        for rel, data in originals.items():
            if (ROOT / rel).read_bytes() != data:
                print("mutants: %s differs from its original; writing it back" % rel,
                      file=sys.stderr)
                (ROOT / rel).write_bytes(data)
        if results:
            print("mutants: rebuilding the unmutated tree", file=sys.stderr, flush=True)
            try:
                run(["cmake", "--build", str(args.build), "-j", str(args.jobs)], BUILD_TIMEOUT)
            except Interrupted:
                print("mutants: rebuild stopped; run cmake --build %s before using it"
                      % args.build, file=sys.stderr)

    killed = sum(1 for r in results if r[1] == "killed")
    survived = [r for r in results if r[1] == "survived"]
    stillborn = sum(1 for r in results if r[1] == "stillborn")
    counted = killed + len(survived)
    score = killed / counted if counted else None
    elapsed = time.time() - began
    print("\n%d mutants: %d killed, %d survived, %d stillborn (not counted)"
          % (len(results), killed, len(survived), stillborn))
    if score is not None:
        print("mutation score: %.1f%% (%d / %d)" % (100 * score, killed, counted))
    print("time: %dm%02ds" % (elapsed // 60, elapsed % 60))
    if survived:
        print("survivors:")
        for m, _, _, _ in survived:
            print("  " + m.describe())
    if args.json:
        args.json.write_text(json.dumps({
            "seed": args.seed, "sample": args.sample, "only": args.only,
            "killed": killed, "survived": len(survived), "stillborn": stillborn,
            "score": score, "seconds": round(elapsed, 1),
            "mutants": [{"status": s, "file": m.path, "line": m.line, "column": m.col,
                         "operator": m.op, "original": m.before, "mutated": m.after,
                         "detail": d, "seconds": round(t, 1)} for m, s, d, t in results],
        }, indent=2) + "\n")
    return 0 if len(results) == len(mutants) else 130


if __name__ == "__main__":
    sys.exit(main())
