#!/usr/bin/env node
// Writes the IBAN structure table of the checking service (src/rules/data/iban_registry.txt) from the npm package
// ibantools (MIT OR MPL-2.0), which carries the SWIFT IBAN registry's per-country length and BBAN structure.
// Usage: scripts/iban-registry.mjs [VERSION]   (needs npm; fetches the package into a temporary folder)
import { execFileSync } from "node:child_process";
import { mkdtempSync, writeFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";

const version = process.argv[2] ?? "4.5.4";
const work = mkdtempSync(join(tmpdir(), "ibantools-"));
try {
    const tarball = execFileSync("npm", ["pack", `ibantools@${version}`, "--silent"], { cwd: work }).toString().trim();
    execFileSync("tar", ["xzf", tarball], { cwd: work });
    const { countrySpecs } = await import(join(work, "package/jsnext/ibantools.js"));

    // "^[0-9]{8}[A-Z0-9]{12}$" -> "8!n12!c": the registry's own notation.
    const kinds = { "[0-9]": "n", "[A-Z]": "a", "[A-Z0-9]": "c", "[0-9A-Z]": "c" };
    const structure = (regexp) => {
        const body = regexp.replace(/^\^/, "").replace(/\$$/, "");
        let out = "";
        for (const [, set, count] of body.matchAll(/(\[[^\]]+\])\{(\d+)\}/g)) {
            if (!(set in kinds)) throw new Error(`unknown character set ${set} in ${regexp}`);
            out += `${count}!${kinds[set]}`;
        }
        return out;
    };

    const lines = [
        "# IBAN structures of the SWIFT IBAN registry: country, IBAN length, BBAN structure",
        "# (n digits, a upper-case letters, c digits or upper-case letters).",
        `# Source: npm ibantools ${version} (MIT OR MPL-2.0), entries marked as registry members;`,
        "# made by scripts/iban-registry.mjs, do not edit by hand.",
        `release ibantools-${version}`,
    ];
    for (const code of Object.keys(countrySpecs).sort()) {
        const country = countrySpecs[code];
        if (!country.IBANRegistry) continue;
        const bban = structure(country.bban_regexp);
        const bbanLength = [...bban.matchAll(/(\d+)!/g)].reduce((sum, m) => sum + Number(m[1]), 0);
        if (bbanLength + 4 !== country.chars) throw new Error(`${code}: length ${country.chars} but BBAN ${bban}`);
        lines.push(`${code} ${country.chars} ${bban}`);
    }
    const target = join(dirname(fileURLToPath(import.meta.url)), "../src/rules/data/iban_registry.txt");
    writeFileSync(target, lines.join("\n") + "\n");
    console.log(`${lines.length - 5} countries -> ${target}`);
} finally {
    rmSync(work, { recursive: true, force: true });
}
