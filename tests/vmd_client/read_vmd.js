'use strict';
// Loads a VMD file with three.js's reader, mmd-parser.
const fs = require('fs');
const { Parser } = require('mmd-parser');

function readVmd(path) {
  const bytes = fs.readFileSync(path);
  const buffer = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length);
  return new Parser().parseVmd(buffer);
}

module.exports = { readVmd };
