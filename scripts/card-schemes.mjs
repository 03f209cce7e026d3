#!/usr/bin/env node
// Writes the card scheme table of the checking service (src/rules/data/card_schemes.txt) from the npm package
// credit-card-type (MIT): every scheme with its issuer prefixes and the lengths it issues, in the package's order
// of testing, plus ranges the package lacks (Diners Club International's 3095).
// Usage: scripts/card-schemes.mjs [VERSION]   (needs npm; fetches the package into a temporary folder)
import { execFileSync } from "node:child_process";
import { mkdtempSync, writeFileSync, rmSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";

const version = process.argv[2] ?? "10.3.0";

// Published by the scheme itself, missing from the package: [scheme as the package names it, prefix, source].
const supplements = [["Diners Club", "3095", "Diners Club International"]];

const work = mkdtempSync(join(tmpdir(), "credit-card-type-"));
try {
    const tarball = execFileSync("npm", ["pack", `credit-card-type@${version}`, "--silent"], { cwd: work })
        .toString()
        .trim();
    execFileSync("tar", ["xzf", tarball], { cwd: work });
    const creditCardType = createRequire(import.meta.url)(join(work, "package/dist/index.js"));

    // An empty number lists every scheme, in the order the package tests them: on prefixes of equal length the
    // earlier scheme wins.
    const schemes = creditCardType("");
    const prefix = (pattern) => {
        if (!Array.isArray(pattern)) return String(pattern);
        const [from, to] = pattern.map(String);
        if (from.length !== to.length) throw new Error(`range ${from}-${to} of unequal lengths`);
        return `${from}-${to}`;
    };
    const lines = [
        "# Card schemes: name, the number lengths it issues, its issuer prefixes (a range compares the number's",
        "# first digits, as many as the range's bounds have), the source of the row. The longest matching prefix",
        "# names the scheme; on equal lengths the earlier row wins.",
        `# Source: npm credit-card-type ${version} (MIT), and ranges the schemes publish that it lacks;`,
        "# made by scripts/card-schemes.mjs, do not edit by hand.",
        `release credit-card-type-${version}`,
    ];
    for (const scheme of schemes) {
        lines.push([scheme.niceType, scheme.lengths.join(","), scheme.patterns.map(prefix).join(" "),
                    `credit-card-type`].join("\t"));
        for (const [name, range, source] of supplements)
            if (name === scheme.niceType) lines.push([name, scheme.lengths.join(","), range, source].join("\t"));
    }
    const target = join(dirname(fileURLToPath(import.meta.url)), "../src/rules/data/card_schemes.txt");
    writeFileSync(target, lines.join("\n") + "\n");
    console.log(`${schemes.length} schemes -> ${target}`);
} finally {
    rmSync(work, { recursive: true, force: true });
}
