#!/usr/bin/env node
// Writes the IBAN structure table of the checking service (src/rules/data/iban_registry.txt) from two readings of
// the SWIFT IBAN registry: the npm package ibantools (MIT OR MPL-2.0), entries marked as registry members, and
// Debian's python3-stdnum (LGPL-2.1+), whose stdnum/iban.dat is generated from SWIFT's registry file. The table
// holds the union of their countries; where they disagree on a structure, stdnum's (SWIFT's own) wins.
// Usage: scripts/iban-registry.mjs [IBANTOOLS_VERSION] [IBAN_DAT]
//   (needs npm, and `apt-get install python3-stdnum` for the default IBAN_DAT; fetches ibantools into a temporary
//   folder)
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";

const version = process.argv[2] ?? "4.5.4";
const ibanDat = process.argv[3] ?? "/usr/lib/python3/dist-packages/stdnum/iban.dat";
const stdnumRelease = execFileSync("dpkg-query", ["-W", "-f", "${Version}", "python3-stdnum"]).toString().trim();

// The territories SWIFT's registry lists under France, with France's structure; ibantools misses some of them.
const frenchTerritories = ["BL", "GF", "GP", "MF", "MQ", "NC", "PF", "PM", "RE", "TF", "WF", "YT"];

// "4!n4!n12!c" -> "nnnn...": one class letter per BBAN character, so that notations compare.
const expand = (structure) => {
    let out = "";
    for (const [, count, kind] of structure.matchAll(/(\d+)!([nac])/g)) out += kind.repeat(Number(count));
    if (out.length === 0) throw new Error(`unreadable structure ${structure}`);
    return out;
};
// And back, runs merged: "8!n12!c".
const compress = (classes) => [...classes.matchAll(/(.)\1*/g)].map((run) => `${run[0].length}!${run[1]}`).join("");

const stdnum = new Map();
for (const line of readFileSync(ibanDat, "utf8").split("\n")) {
    const match = line.match(/^([A-Z]{2}) .*bban="([^"]+)"/);
    if (match) stdnum.set(match[1], expand(match[2]));
}
if (!stdnum.has("FR")) throw new Error(`${ibanDat}: no France`);

const work = mkdtempSync(join(tmpdir(), "ibantools-"));
try {
    const tarball = execFileSync("npm", ["pack", `ibantools@${version}`, "--silent"], { cwd: work }).toString().trim();
    execFileSync("tar", ["xzf", tarball], { cwd: work });
    const { countrySpecs } = await import(join(work, "package/jsnext/ibantools.js"));

    // "^[0-9]{8}[A-Z0-9]{12}$" -> "nnnnnnnncccccccccccc".
    const kinds = { "[0-9]": "n", "[A-Z]": "a", "[A-Z0-9]": "c", "[0-9A-Z]": "c" };
    const classes = (regexp) => {
        const body = regexp.replace(/^\^/, "").replace(/\$$/, "");
        let out = "";
        for (const [, set, count] of body.matchAll(/(\[[^\]]+\])\{(\d+)\}/g)) {
            if (!(set in kinds)) throw new Error(`unknown character set ${set} in ${regexp}`);
            out += kinds[set].repeat(Number(count));
        }
        return out;
    };
    const ibantools = new Map();
    for (const [code, country] of Object.entries(countrySpecs)) {
        if (!country.IBANRegistry) continue;
        const bban = classes(country.bban_regexp);
        if (bban.length + 4 !== country.chars) throw new Error(`${code}: length ${country.chars} but BBAN ${bban}`);
        ibantools.set(code, bban);
    }

    const rows = new Map(); // code -> [classes, source]
    for (const [code, bban] of ibantools) rows.set(code, [bban, "ibantools"]);
    for (const [code, bban] of stdnum) rows.set(code, [bban, ibantools.get(code) === bban ? "both" : "stdnum"]);
    for (const code of frenchTerritories)
        if (!rows.has(code)) rows.set(code, [stdnum.get("FR"), "stdnum:FR"]);

    const lines = [
        "# IBAN structures of the SWIFT IBAN registry: country, IBAN length, BBAN structure",
        "# (n digits, a upper-case letters, c digits or upper-case letters), source of the row:",
        `# "ibantools" npm ibantools ${version} (MIT OR MPL-2.0), entries marked as registry members;`,
        `# "stdnum" stdnum/iban.dat of Debian's python3-stdnum ${stdnumRelease} (LGPL-2.1+), made from SWIFT's`,
        "# registry file, also where ibantools has the country with another structure; \"both\" where the two agree;",
        '# "stdnum:FR" a territory SWIFT lists under France, with its structure.',
        "# Made by scripts/iban-registry.mjs, do not edit by hand.",
        `release ibantools-${version} python3-stdnum-${stdnumRelease}`,
    ];
    for (const code of [...rows.keys()].sort()) {
        const [bban, source] = rows.get(code);
        lines.push(`${code} ${bban.length + 4} ${compress(bban)} ${source}`);
    }
    const target = join(dirname(fileURLToPath(import.meta.url)), "../src/rules/data/iban_registry.txt");
    writeFileSync(target, lines.join("\n") + "\n");
    console.log(`${rows.size} countries -> ${target}`);
} finally {
    rmSync(work, { recursive: true, force: true });
}
