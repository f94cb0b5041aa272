// Converts each SLP file given with the slp program to .glb and to .gltf (with its .bin) and checks both
// with the Khronos glTF validator. Fails on any validator error, and on a failed conversion.
//
//   node validate.js SLP_PROGRAM OUTPUT_DIR FILE.slp...
'use strict';

const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');

let validator;
try {
  validator = require('gltf-validator');
} catch (error) {
  console.error('gltf-validator is not installed: run .ci/install-deps (npm ci in ' + __dirname + ')');
  process.exit(1);
}

async function validateFile(file) {
  const directory = path.dirname(file);
  const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
    uri: path.basename(file),
    maxIssues: 0,
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        fs.readFile(path.join(directory, decodeURIComponent(uri)), (error, data) =>
          error ? reject(error.toString()) : resolve(new Uint8Array(data)));
      }),
  });
  return report.issues;
}

async function main() {
  const [program, outputDir, ...inputs] = process.argv.slice(2);
  if (!program || !outputDir || inputs.length === 0) {
    console.error('usage: node validate.js SLP_PROGRAM OUTPUT_DIR FILE.slp...');
    process.exit(2);
  }
  fs.mkdirSync(outputDir, { recursive: true });
  let passed = 0;
  let failed = 0;
  for (const input of inputs) {
    for (const extension of ['.glb', '.gltf']) {
      const output = path.join(outputDir, path.basename(input, '.slp') + extension);
      try {
        execFileSync(program, ['convert', input, output], { stdio: ['ignore', 'ignore', 'inherit'] });
      } catch (error) {
        console.log(`FAIL ${output}: slp convert exited with ${error.status}`);
        ++failed;
        continue;
      }
      const issues = await validateFile(output);
      const summary = `${issues.numErrors} errors, ${issues.numWarnings} warnings, ${issues.numInfos} infos`;
      if (issues.numErrors > 0) {
        console.log(`FAIL ${output}: ${summary}`);
        for (const message of issues.messages.filter((m) => m.severity === 0))
          console.log(`  ${message.code} at ${message.pointer}: ${message.message}`);
        ++failed;
      } else {
        console.log(`ok   ${output}: ${summary}`);
        ++passed;
      }
    }
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed > 0 ? 1 : 0);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
