#!/usr/bin/env node
// Generates common/unicode_lower_table.cpp, the simple lower-case mapping tables used by
// ascommon::UNICODETOLOWER, from the UCD 15.1 data in the npm package @unicode/unicode-15.1.0.
//
// Usage:
//   node tools/gen_unicode_lower.js --ucd PATH [--out FILE] [--dump FILE]
//
//   --ucd PATH   the package folder (.../@unicode/unicode-15.1.0), a node_modules folder that
//                holds it, or the Simple_Case_Mapping/Lowercase/code-points.{js,mjs,cjs} file
//   --out FILE   generated C++ source (default: common/unicode_lower_table.cpp in this repo)
//   --dump FILE  also write every mapped code point as "XXXX YYYY" (hex) per line, all planes,
//                for the exhaustive test (MOLVEX_UCD_LOWER_DUMP)
//
// The output is deterministic: same data in, same bytes out.
'use strict';

const fs = require('fs');
const path = require('path');
const { pathToFileURL } = require('url');

const PACKAGE_NAME = '@unicode/unicode-15.1.0';
const UCD_VERSION = '15.1';
const MAPPING_DIR = path.join('Simple_Case_Mapping', 'Lowercase');
const MAPPING_FILES = ['code-points.js', 'code-points.mjs', 'code-points.cjs'];
// Known size of the supplementary-plane part of the UCD 15.1 table; a different number means
// the wrong data set was picked up.
const EXPECTED_SUPPLEMENTARY = 260;

function fail(msg) {
    process.stderr.write(`gen_unicode_lower: ${msg}\n`);
    process.exit(1);
}

function parseArgs(argv) {
    const opts = {
        ucd: null,
        out: path.resolve(__dirname, '..', 'common', 'unicode_lower_table.cpp'),
        dump: null,
    };
    for (let i = 0; i < argv.length; ++i) {
        const a = argv[i];
        const value = () => {
            if (i + 1 >= argv.length) fail(`${a} needs a value`);
            return argv[++i];
        };
        if (a === '--ucd') opts.ucd = value();
        else if (a === '--out') opts.out = value();
        else if (a === '--dump') opts.dump = value();
        else if (a === '-h' || a === '--help') {
            process.stdout.write('usage: node tools/gen_unicode_lower.js --ucd PATH ' +
                                 '[--out FILE] [--dump FILE]\n');
            process.exit(0);
        } else fail(`unknown argument: ${a}`);
    }
    if (!opts.ucd) fail('--ucd PATH is required (package folder or node_modules folder)');
    return opts;
}

function findMappingFile(dir) {
    for (const name of MAPPING_FILES) {
        const f = path.join(dir, MAPPING_DIR, name);
        if (fs.existsSync(f)) return f;
    }
    return null;
}

// Accepts the mapping file itself, the package folder or a node_modules folder.
function resolveMappingFile(p) {
    const abs = path.resolve(p);
    if (!fs.existsSync(abs)) fail(`no such path: ${abs}`);
    if (fs.statSync(abs).isFile()) return abs;
    const candidates = [abs, path.join(abs, ...PACKAGE_NAME.split('/')),
                        path.join(abs, 'node_modules', ...PACKAGE_NAME.split('/'))];
    for (const dir of candidates) {
        const f = findMappingFile(dir);
        if (f) return f;
    }
    fail(`cannot find ${MAPPING_DIR}/code-points.* under ${abs}`);
}

// Walks up from the mapping file to the package.json and insists on the 15.1 package.
function checkPackage(mappingFile) {
    let dir = path.dirname(mappingFile);
    for (;;) {
        const pj = path.join(dir, 'package.json');
        if (fs.existsSync(pj)) {
            const name = JSON.parse(fs.readFileSync(pj, 'utf8')).name;
            if (name !== PACKAGE_NAME) fail(`${pj} is ${name}, expected ${PACKAGE_NAME}`);
            return;
        }
        const up = path.dirname(dir);
        if (up === dir) fail(`no package.json above ${mappingFile}`);
        dir = up;
    }
}

function validate(map) {
    if (!(map instanceof Map)) fail('mapping module does not export a Map');
    const pairs = [];
    for (const [cp, lower] of map) {
        for (const v of [cp, lower]) {
            if (!Number.isInteger(v) || v < 0 || v > 0x10ffff || (v >= 0xd800 && v <= 0xdfff)) {
                fail(`bad code point in mapping: ${cp} -> ${lower}`);
            }
        }
        if ((cp < 0x10000) !== (lower < 0x10000)) {
            // The BMP table stores 32-bit values, so this would still work, but it has never
            // happened in the UCD and would be worth a look.
            process.stderr.write(`gen_unicode_lower: note: ${hex(cp)} maps across planes\n`);
        }
        if (cp !== lower) pairs.push([cp, lower]);
    }
    pairs.sort((a, b) => a[0] - b[0]);
    return pairs;
}

function hex(v, width = 4) {
    return v.toString(16).toUpperCase().padStart(width, '0');
}

function emitTable(name, pairs, width, perLine) {
    const lines = [`const uint32_t ${name}[][2] = {`];
    for (let i = 0; i < pairs.length; i += perLine) {
        const chunk = pairs.slice(i, i + perLine)
                          .map(([c, l]) => `{0x${hex(c, width)}, 0x${hex(l, width)}}`)
                          .join(', ');
        lines.push(`    ${chunk},`);
    }
    lines.push('};');
    return lines.join('\n');
}

function render(bmp, supp) {
    const tool = 'tools/gen_unicode_lower.js';
    return `// Generated by ${tool} from UCD ${UCD_VERSION} simple lower-case mappings
// (${PACKAGE_NAME}, Simple_Case_Mapping/Lowercase). Do not edit; regenerate instead.
//
// ${bmp.length} BMP pairs, ${supp.length} supplementary pairs; (code point, lower case) sorted
// by code point, only code points whose lower case differs from themselves.

#include "common/unicode_tolower.h"

#include <cstddef>
#include <cstdint>

namespace ascommon {
namespace unicode_lower_data {

extern const uint32_t kBmpPairs[][2];
extern const size_t kBmpPairCount;
extern const uint32_t kSupplementaryPairs[][2];
extern const size_t kSupplementaryPairCount;

// clang-format off
${emitTable('kBmpPairs', bmp, 4, 5)}
const size_t kBmpPairCount = sizeof(kBmpPairs) / sizeof(kBmpPairs[0]);

${emitTable('kSupplementaryPairs', supp, 5, 4)}
const size_t kSupplementaryPairCount = sizeof(kSupplementaryPairs) / sizeof(kSupplementaryPairs[0]);
// clang-format on

}  // namespace unicode_lower_data
}  // namespace ascommon
`;
}

async function main() {
    const opts = parseArgs(process.argv.slice(2));
    const mappingFile = resolveMappingFile(opts.ucd);
    checkPackage(mappingFile);
    const mod = await import(pathToFileURL(mappingFile).href);
    const pairs = validate(mod.default);

    const bmp = pairs.filter(([cp]) => cp < 0x10000);
    const supp = pairs.filter(([cp]) => cp >= 0x10000);
    if (supp.length !== EXPECTED_SUPPLEMENTARY) {
        fail(`expected ${EXPECTED_SUPPLEMENTARY} supplementary pairs for UCD ${UCD_VERSION}, ` +
             `found ${supp.length}`);
    }
    if (bmp.length === 0) fail('no BMP pairs found');

    fs.writeFileSync(opts.out, render(bmp, supp));
    process.stdout.write(`wrote ${opts.out}: ${bmp.length} BMP + ${supp.length} supplementary\n`);
    if (opts.dump) {
        fs.writeFileSync(opts.dump, pairs.map(([c, l]) => `${hex(c)} ${hex(l)}\n`).join(''));
        process.stdout.write(`wrote ${opts.dump}: ${pairs.length} lines\n`);
    }
}

main().catch((e) => fail(e && e.stack ? e.stack : String(e)));
