#!/usr/bin/env node
'use strict';
// Runs the WebAssembly build of Torsel in node as the native program runs:
//   node tools/wasm_run.js build-wasm/torsel.js [torsel arguments...]
// The files it writes beside them come back to the disk. Standard output
// and the exit status are the program's own.
const fs = require('fs');
const path = require('path');

const [modulePath, ...args] = process.argv.slice(2);
const createTorsel = require(path.resolve(modulePath));
const out = [];
// Files named among the arguments stand in the module's memory at the same
// paths, so that the program prints them as given.
const inputs = args.filter((a) => !a.startsWith('-') && fs.existsSync(a) && fs.statSync(a).isFile()).map((a) => path.resolve(a));
// The host's locale, so that the console's language and codeset are the native run's.
const locale = Object.fromEntries(['LC_ALL', 'LC_CTYPE', 'LANG']
  .filter((k) => process.env[k] !== undefined).map((k) => [k, process.env[k]]));
createTorsel({
  preRun: [(m) => {
    Object.assign(m.ENV || {}, locale);
    m.FS.init(() => null, (c) => out.push(c), (c) => out.push(c));
  }],
}).then((m) => {
  m.FS.mkdirTree(process.cwd());
  m.FS.chdir(process.cwd());
  const folders = new Map();
  for (const a of inputs) {
    m.FS.mkdirTree(path.dirname(a));
    m.FS.writeFile(a, fs.readFileSync(a));
    folders.set(path.dirname(a), new Set(m.FS.readdir(path.dirname(a))));
  }
  const status = m.callMain(args);
  for (const [folder, before] of folders) {
    for (const name of m.FS.readdir(folder).filter((n) => !before.has(n))) {
      fs.writeFileSync(path.join(folder, name), m.FS.readFile(path.join(folder, name)));
    }
  }
  process.stdout.write(Buffer.from(out));
  process.exitCode = status & 0xFF;
});
