#!/usr/bin/env node
// Generates companions/glyphkit/glyphkit_tables.cpp, the character category and script tables
// of the glyphkit companion library, from the UCD 15.1 data in the npm package
// @unicode/unicode-15.1.0 (General_Category, Script and the White_Space property).
//
// Usage:
//   node tools/gen_glyphkit_tables.js --ucd PATH [--out FILE]
//
//   --ucd PATH   the package folder (.../@unicode/unicode-15.1.0) or a node_modules folder
//                that holds it (or the folder above that node_modules)
//   --out FILE   generated C++ source (default: companions/glyphkit/glyphkit_tables.cpp)
//
// Each table is a list of ranges that together cover U+0000..U+10FFFF, one entry per range:
// (first code point << 8) | value. The category values are glyphkit's GK_CAT_* numbers: the
// general categories folded as in CATEGORY_OF below, with every White_Space code point counted
// as a space. The script values index the table of script names (the Script property's long
// names, sorted). The output is deterministic: same data in, same bytes out.
'use strict';

const fs = require('fs');
const path = require('path');
const { pathToFileURL } = require('url');

const PACKAGE_NAME = '@unicode/unicode-15.1.0';
const UCD_VERSION = '15.1';
const MAX_CODE_POINT = 0x10ffff;
const RANGE_FILES = ['ranges.js', 'ranges.mjs', 'ranges.cjs'];
// Known number of scripts in UCD 15.1 (Common, Inherited and Unknown included); a different
// number means the wrong data set was picked up.
const EXPECTED_SCRIPTS = 164;

// glyphkit.h's GK_CAT_* values; the generated file checks them with static_assert.
const GK = {
    OTHER: 0, UPPER: 1, LOWER: 2, LETTER: 3, MARK: 4,
    DIGIT: 5, SPACE: 6, PUNCT: 7, SYMBOL: 8, CONTROL: 9,
};

// Every general category value (the package's folder names) and its glyphkit category.
// Title-case letters are neither Uppercase nor Lowercase in Unicode: they count as letters.
const CATEGORY_OF = {
    Uppercase_Letter: 'UPPER',
    Lowercase_Letter: 'LOWER',
    Titlecase_Letter: 'LETTER',
    Modifier_Letter: 'LETTER',
    Other_Letter: 'LETTER',
    Nonspacing_Mark: 'MARK',
    Spacing_Mark: 'MARK',
    Enclosing_Mark: 'MARK',
    Decimal_Number: 'DIGIT',
    Letter_Number: 'DIGIT',
    Other_Number: 'DIGIT',
    Space_Separator: 'SPACE',
    Line_Separator: 'SPACE',
    Paragraph_Separator: 'SPACE',
    Connector_Punctuation: 'PUNCT',
    Dash_Punctuation: 'PUNCT',
    Open_Punctuation: 'PUNCT',
    Close_Punctuation: 'PUNCT',
    Initial_Punctuation: 'PUNCT',
    Final_Punctuation: 'PUNCT',
    Other_Punctuation: 'PUNCT',
    Math_Symbol: 'SYMBOL',
    Currency_Symbol: 'SYMBOL',
    Modifier_Symbol: 'SYMBOL',
    Other_Symbol: 'SYMBOL',
    Control: 'CONTROL',
    Format: 'CONTROL',
    Surrogate: 'OTHER',
    Private_Use: 'OTHER',
    Unassigned: 'OTHER',
};

function fail(msg) {
    process.stderr.write(`gen_glyphkit_tables: ${msg}\n`);
    process.exit(1);
}

function parseArgs(argv) {
    const opts = {
        ucd: null,
        out: path.resolve(__dirname, '..', 'companions', 'glyphkit', 'glyphkit_tables.cpp'),
    };
    for (let i = 0; i < argv.length; ++i) {
        const a = argv[i];
        const value = () => {
            if (i + 1 >= argv.length) fail(`${a} needs a value`);
            return argv[++i];
        };
        if (a === '--ucd') opts.ucd = value();
        else if (a === '--out') opts.out = value();
        else if (a === '-h' || a === '--help') {
            process.stdout.write('usage: node tools/gen_glyphkit_tables.js --ucd PATH [--out FILE]\n');
            process.exit(0);
        } else fail(`unknown argument: ${a}`);
    }
    if (!opts.ucd) fail('--ucd PATH is required (package folder or node_modules folder)');
    return opts;
}

// The package folder under p; insists on the 15.1 package.
function resolvePackage(p) {
    const abs = path.resolve(p);
    if (!fs.existsSync(abs)) fail(`no such path: ${abs}`);
    const parts = PACKAGE_NAME.split('/');
    const candidates = [abs, path.join(abs, ...parts), path.join(abs, 'node_modules', ...parts)];
    for (const dir of candidates) {
        const pj = path.join(dir, 'package.json');
        if (!fs.existsSync(path.join(dir, 'General_Category')) || !fs.existsSync(pj)) continue;
        const name = JSON.parse(fs.readFileSync(pj, 'utf8')).name;
        if (name !== PACKAGE_NAME) fail(`${pj} is ${name}, expected ${PACKAGE_NAME}`);
        return dir;
    }
    fail(`cannot find the ${PACKAGE_NAME} package (General_Category folder) under ${abs}`);
}

// The code points of one property value as sorted [first, last] pairs, from its ranges file.
async function loadRanges(dir) {
    const file = RANGE_FILES.map((n) => path.join(dir, n)).find((f) => fs.existsSync(f));
    if (!file) fail(`missing ${dir}/ranges.{js,mjs,cjs}`);
    const mod = await import(pathToFileURL(file).href);
    const ranges = mod.default;
    if (!Array.isArray(ranges)) fail(`${file} does not export an array`);
    const pairs = ranges.map((r) => {
        const first = r && r.begin;
        const last = r && r.end - 1;  // end is exclusive
        if (!Number.isInteger(first) || !Number.isInteger(last) || first < 0 || last < first ||
            last > MAX_CODE_POINT) {
            fail(`bad range in ${file}: ${JSON.stringify(r)}`);
        }
        return [first, last];
    });
    return pairs.sort((a, b) => a[0] - b[0]);
}

// Assigns value to every code point of each property value; every code point must get exactly
// one value.
function partition(what, entries) {
    const unset = 0xffff;
    const values = new Uint16Array(MAX_CODE_POINT + 1).fill(unset);
    for (const { name, value, ranges } of entries) {
        for (const [first, last] of ranges) {
            for (let c = first; c <= last; ++c) {
                if (values[c] !== unset) fail(`${what}: U+${hex(c)} is in two values (${name})`);
                values[c] = value;
            }
        }
    }
    const gap = values.indexOf(unset);
    if (gap >= 0) fail(`${what}: U+${hex(gap)} has no value`);
    return values;
}

// Runs of equal values as (first code point, value) pairs.
function runs(values) {
    const out = [];
    for (let c = 0; c < values.length; ++c) {
        if (c === 0 || values[c] !== values[c - 1]) out.push([c, values[c]]);
    }
    return out;
}

function hex(v, width = 4) {
    return v.toString(16).toUpperCase().padStart(width, '0');
}

// An array definition, its items wrapped before column 100.
function emitArray(declaration, items) {
    const lines = [`${declaration} = {`];
    let line = '   ';
    for (const item of items) {
        if (line.length + item.length + 2 > 100) {
            lines.push(line);
            line = '   ';
        }
        line += ` ${item},`;
    }
    lines.push(line, '};');
    return lines.join('\n');
}

function emitRanges(name, pairs) {
    return emitArray(`const uint32_t ${name}[]`, pairs.map(([c, v]) => `R(0x${hex(c)}, ${v})`));
}

function render(categories, scripts, names) {
    const asserts = Object.entries(GK)
                        .map(([k, v]) => `static_assert(GK_CAT_${k} == ${v}, "GK_CAT_${k}");`)
                        .join('\n');
    const common = names.indexOf('Common');
    return `// Generated by tools/gen_glyphkit_tables.js from UCD ${UCD_VERSION} General_Category, Script and
// White_Space (${PACKAGE_NAME}). Do not edit; regenerate instead.
//
// ${categories.length} category ranges, ${scripts.length} script ranges, ${names.length} scripts. Each entry is
// R(first code point, value); a range ends where the next begins, the last at U+10FFFF.

#include "companions/glyphkit/glyphkit_tables.h"

#include <cstddef>
#include <cstdint>

#include "companions/glyphkit/glyphkit.h"

namespace glyphkit_data {
namespace {

constexpr uint32_t R(uint32_t first, uint32_t value) {
    return first << 8 | value;
}

}  // namespace

${asserts}

// clang-format off
${emitRanges('kCategoryRanges', categories)}
const size_t kCategoryRangeCount = sizeof(kCategoryRanges) / sizeof(kCategoryRanges[0]);

${emitRanges('kScriptRanges', scripts)}
const size_t kScriptRangeCount = sizeof(kScriptRanges) / sizeof(kScriptRanges[0]);

${emitArray('const char* const kScriptNames[]', names.map((n) => `"${n}"`))}
const size_t kScriptCount = sizeof(kScriptNames) / sizeof(kScriptNames[0]);
const uint32_t kCommonScript = ${common};
// clang-format on

}  // namespace glyphkit_data
`;
}

async function main() {
    const opts = parseArgs(process.argv.slice(2));
    const pkg = resolvePackage(opts.ucd);

    const categoryEntries = [];
    for (const [name, gk] of Object.entries(CATEGORY_OF)) {
        const ranges = await loadRanges(path.join(pkg, 'General_Category', name));
        categoryEntries.push({ name, value: GK[gk], ranges });
    }
    const categoryValues = partition('General_Category', categoryEntries);
    for (const [first, last] of await loadRanges(path.join(pkg, 'Binary_Property', 'White_Space'))) {
        categoryValues.fill(GK.SPACE, first, last + 1);
    }

    const scriptDir = path.join(pkg, 'Script');
    if (!fs.existsSync(scriptDir)) fail(`missing ${scriptDir}`);
    const names = fs.readdirSync(scriptDir, { withFileTypes: true })
                      .filter((d) => d.isDirectory())
                      .map((d) => d.name)
                      .sort();
    if (names.length !== EXPECTED_SCRIPTS) {
        fail(`expected ${EXPECTED_SCRIPTS} scripts for UCD ${UCD_VERSION}, found ${names.length}`);
    }
    for (const n of ['Common', 'Inherited', 'Unknown']) {
        if (!names.includes(n)) fail(`no script named ${n} in ${scriptDir}`);
    }
    const scriptEntries = [];
    for (const [value, name] of names.entries()) {
        if (!/^[A-Za-z_]+$/.test(name)) fail(`unexpected script name: ${name}`);
        scriptEntries.push({ name, value, ranges: await loadRanges(path.join(scriptDir, name)) });
    }
    const scriptValues = partition('Script', scriptEntries);

    const categories = runs(categoryValues);
    const scripts = runs(scriptValues);
    fs.writeFileSync(opts.out, render(categories, scripts, names));
    process.stdout.write(`wrote ${opts.out}: ${categories.length} category ranges, ` +
                         `${scripts.length} script ranges, ${names.length} scripts\n`);
}

main().catch((e) => fail(e && e.stack ? e.stack : String(e)));
