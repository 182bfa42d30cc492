// The module under Node converts as the command line does: the same exit
// status, report, stderr line and target bytes, one fresh run per file.
// Usage: node module_test.mjs MODULE.wasm QUARNEL_CLI SAMPLES_DIR
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';
import vm from 'node:vm';

import { runCommandLine } from './command_line.mjs';

const [modulePath, cli, samples] = process.argv.slice(2).map((arg) => path.resolve(arg));
vm.runInThisContext(
  `${fs.readFileSync(new URL('../../web/quarnel_engine.js', import.meta.url), 'utf8')}\nglobalThis.QuarnelEngine = QuarnelEngine;`);
const engine = await globalThis.QuarnelEngine.load(fs.readFileSync(modulePath));

const sample = (name) => fs.readFileSync(path.join(samples, name));
const narrow = sample('narrow-krv330.frt');
const wide = sample('wide-krv880.frt');
const latin1 = (text) => Buffer.from(text, 'latin1');

// In this order on one module: the wide sample before narrow ones shows that
// no run inherits the layout of the one before.
const cases = [
  ['wide-krv880.frt', wide, 0],
  ['narrow-krv330.frt', narrow, 0],
  ['other-model.frt', sample('other-model.frt'), 3],
  // The module grows its memory; the chunk loop runs many times.
  ['many-chunks.frt', Buffer.concat(Array(400).fill(narrow)), 0],
  ['lf-only.frt', latin1(narrow.toString('latin1').replaceAll('\r\n', '\n')), 0],
  // The command line names the marker's line and the bytes left behind it.
  ['end-marker.frt', Buffer.concat([narrow, latin1('\xff$"x "010800011;120\r\n')]), 0],
  ['utf-16.frt', Buffer.concat([latin1('\xff\xfe'), Buffer.from('@i1KRV330\r\n', 'utf16le')]), 1],
  ['nul-byte.frt', Buffer.concat([narrow.subarray(0, 200), latin1('$"x"1\0\r\n'), narrow]), 1],
  ['no-frt-tag.frt', latin1('@i1KRV330\r\n@l1KRV330_Standard\r\n@t1XYZ\r\n'), 1],
  // A "$" alone is a line of its own, copied as it stands.
  ['marker-alone.frt', latin1('@i1KRV880\r\n$"Point "010800011;100\r\n$\r\n'), 0],
  ['last-line-open.frt', latin1('@i1KRV880\r\n$"Point "010800011;100'), 0],
  ['long-line.frt', latin1(`@i1KRV440\r\n$"${'x'.repeat(3000)}"\r\n`), 1],
  ['empty.frt', Buffer.alloc(0), 0],
  ['Übersicht 7.frt', narrow, 0],
];

// The source with its change list applied, by the rules the list states:
// lines without their ends, cut at the end marker, edited, ended by CR LF.
function applyChanges(source, list) {
  let text = source.toString('latin1');
  const marker = text.indexOf('\xff');
  if (marker >= 0) text = text.slice(0, marker);
  const lines = text.split('\n').map((line, i, all) => (i < all.length - 1 ? line.replace(/\r$/, '') : line));
  const byLine = new Map(list.lines.map((change) => [change.line, change]));
  let target = '';
  for (let i = 0; i < list.lineCount; i += 1) {
    let line = lines[i] ?? '';
    let edited = '';
    let at = 0;
    for (const [start, length, replacement] of byLine.get(i + 1)?.edits ?? []) {
      edited += line.slice(at, start) + replacement;
      at = start + length;
    }
    line = edited + line.slice(at);
    target += line + (i + 1 < list.lineCount || list.lastLineEnded ? '\r\n' : '');
  }
  return latin1(target);
}

test('each file converts as the command line converts it', () => {
  for (const [name, bytes, expectedStatus] of cases) {
    const expected = runCommandLine(cli, name, bytes);
    assert.equal(expected.status, expectedStatus, `${name}: the command line's status`);
    const outcome = engine.convert(name, new Uint8Array(bytes));
    assert.equal(outcome.status, expected.status, name);
    assert.equal(`${outcome.report}\n`, expected.stdout, name);
    // The page decodes as UTF-8; the command line prints the name's bytes.
    assert.equal(Buffer.from(outcome.messages).toString('latin1'), expected.stderr, name);
    if (expected.status === 0) {
      assert.ok(outcome.target, name);
      assert.ok(Buffer.from(outcome.target).equals(expected.target), `${name}: target bytes`);
      assert.ok(applyChanges(bytes, engine.changes()).equals(expected.target), `${name}: change list`);
      for (const number of [...outcome.variables, ...outcome.applications]) {
        assert.ok(outcome.report.includes(`\n${number}: `), `${name}: ${number} in the report`);
      }
    } else {
      // Neither a failure nor another model's file offers a converted file.
      assert.equal(outcome.target, null, name);
      assert.equal(engine.changes(), null, name);
    }
  }
});

test('a file that needs no conversion says what its model line names instead', () => {
  const cases = [
    ['other-model.frt', sample('other-model.frt'), 'TS9200'],
    ['typo.frt', latin1('@i1KRV550\r\n'), 'KRV550'],
    ['lower-case.frt', latin1('@i1krv330\r\n'), 'krv330'],
    // Bytes out of the file never reach the page as they stand.
    ['control.frt', latin1('@i1KR\x1b[2J\r\n'), 'KR\\x1b[2J'],
    ['short.frt', latin1('@i1TS\r\n'), 'TS'],
    ['narrow-krv330.frt', narrow, null],
  ];
  for (const [name, bytes, model] of cases) {
    const outcome = engine.convert(name, new Uint8Array(bytes));
    assert.equal(outcome.status, model === null ? 0 : 3, name);
    assert.equal(outcome.note, model === null ? '' : `the model line names "${model}", not KRV110, KRV330, KRV440 or KRV880`,
      name);
  }
});

test('a module that stops part way is shown as a failure of no known kind', () => {
  assert.deepEqual(engine.unknownError,
    { status: 1, report: 'Format-File Conversion failed due to unknown error!' });
});

test('the change list comes in pages', () => {
  engine.convert('narrow-krv330.frt', new Uint8Array(narrow));
  const all = engine.changes();
  assert.ok(all.total > 8);
  assert.deepEqual(engine.changes(3, 5), { ...all, lines: all.lines.slice(3, 8) });
  assert.deepEqual(engine.changes(all.total, 5).lines, []);
});

test('names: the walk\'s rule, the target\'s name and zip entries that Windows extractors keep in place', () => {
  // The command line's walk and its targets are the reference.
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'quarnel-walk-'));
  try {
    const names = ['job.frt', 'JOB 2.FRT', 'x.Frt', '.hidden.frt', 'QZ_job.frt', 'qz_x.frt', 'notes.txt',
      'a.frt.bak', 'Übersicht.frt', 'a\\..\\x.frt', '.frt'];
    for (const name of names) fs.writeFileSync(path.join(folder, name), narrow);
    const walk = spawnSync(cli, ['-n', '--force', '--json', '-b', folder], { encoding: 'utf8' });
    const walked = walk.stdout.trim().split('\n').map((line) => JSON.parse(line))
      .map(({ source, target }) => [path.basename(source), path.basename(target)]);
    const taken = names.filter((name) => engine.isSourceName(name));
    assert.deepEqual(taken.sort(), walked.map(([source]) => source).sort());
    for (const [source, target] of walked) assert.equal(engine.targetName(source), target);
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }

  const zipCases = [
    ['jobs/QZ_job.frt', 'jobs/QZ_job.frt'],
    ['jobs/QZ_a\\..\\..\\x.frt', 'jobs/QZ_a_.._.._x.frt'],  // no climbing out where "\" separates
    ['QZ_a:b*c?d"e<f>g|h.frt', 'QZ_a_b_c_d_e_f_g_h.frt'],
    ['QZ_tab\there\x7f.frt', 'QZ_tab_here_.frt'],
    ['jobs /day./QZ_x.frt', 'jobs_/day_/QZ_x.frt'],  // Windows drops a trailing dot or blank
    ['CON/QZ_x.frt', '_CON/QZ_x.frt'],
    ['aux.d/nul.tar.gz/Lpt9/com1 .x/QZ_x.frt', '_aux.d/_nul.tar.gz/_Lpt9/_com1 .x/QZ_x.frt'],
    ['QZ_CON.frt', 'QZ_CON.frt'],  // a device name only as a whole component
    ['COM0/LPT10/CONSOLE/QZ_x.frt', 'COM0/LPT10/CONSOLE/QZ_x.frt'],
    ['Übersicht/QZ_Straße.frt', 'Übersicht/QZ_Straße.frt'],
  ];
  for (const [zipPath, expected] of zipCases) {
    assert.deepEqual(engine.zipEntryName(zipPath), { name: expected, changed: zipPath !== expected }, zipPath);
  }
});
