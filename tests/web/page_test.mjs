// The page in Debian's Chromium, served from a local origin and opened from
// disk: it converts as the command line does and asks no other origin for
// anything.
// Usage: node page_test.mjs INDEX.html QUARNEL_CLI SAMPLES_DIR NODE_MODULES ARTIFACTS_DIR FFLATE_DIR
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import http from 'node:http';
import { createRequire } from 'node:module';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { runCommandLine } from './command_line.mjs';

const [page, cli, samples, nodeModules, artifacts, fflateDir] = process.argv.slice(2).map((arg) => path.resolve(arg));
const { chromium } = createRequire(path.join(nodeModules, 'noop.js'))('playwright-core');
const fflate = createRequire(path.join(fflateDir, 'noop.js'))(fflateDir);

const sampleFile = (name) => path.join(samples, name);
const expectedFor = (name, bytes) => runCommandLine(cli, name, bytes ?? fs.readFileSync(sampleFile(name)));

let server;
let origin;
let browser;
// Every request a page made to somewhere other than where it came from.
const foreignRequests = [];

before(async () => {
  server = http.createServer((request, response) => {
    const known = { '/': 'index.html', '/index.html': 'index.html' }[new URL(request.url, 'http://x').pathname];
    if (!known) return response.writeHead(404).end();
    response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    response.end(fs.readFileSync(page));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
});

after(async () => {
  await browser?.close();
  server?.close();
});

// A fresh page whose own requests are watched. Chromium's background traffic
// does not go through a page, so it is not counted.
async function openPage(url, options = {}) {
  const context = await browser.newContext({ acceptDownloads: true, ...options });
  const tab = await context.newPage();
  const pageOrigin = new URL(url).protocol === 'file:' ? url : origin;
  tab.on('request', (request) => {
    const requested = request.url();
    if (/^(data|blob):/.test(requested) || requested.startsWith(pageOrigin)) return;
    foreignRequests.push(requested);
  });
  await tab.goto(url);
  return tab;
}

async function downloadedBytes(tab, button = '#download') {
  const [download] = await Promise.all([tab.waitForEvent('download'), tab.click(button)]);
  return { name: download.suggestedFilename(), bytes: fs.readFileSync(await download.path()) };
}

async function expectConvertedAsCommandLine(tab, name) {
  const expected = expectedFor(name);
  // After several files the newest report is folded.
  if (!(await tab.evaluate(() => document.getElementById('newest').open))) await tab.click('#newest > summary');
  assert.equal(expected.status, 0);
  assert.equal(await tab.textContent('#report'), expected.stdout.replace(/\n$/, ''));
  const download = await downloadedBytes(tab);
  assert.equal(download.name, `QZ_${name}`);
  assert.ok(download.bytes.equals(expected.target), `${name}: downloaded bytes`);
}

// The ids of the elements that are not wholly in view without scrolling.
const outOfView = (tab, ids) => tab.evaluate((all) => all.filter((id) => {
  const box = document.getElementById(id).getBoundingClientRect();
  return !(box.height > 0 && box.top >= 0 && box.bottom <= window.innerHeight && box.right <= window.innerWidth);
}), ids);

test('files picked convert as on the command line, in the order taken', async () => {
  const tab = await openPage(`${origin}/`, { viewport: { width: 1280, height: 800 } });
  await tab.setInputFiles('#files', [sampleFile('wide-krv880.frt'), sampleFile('narrow-krv330.frt')]);
  await tab.waitForSelector('#results li:nth-child(2)');
  assert.deepEqual(await tab.locator('#results .path').allTextContents(), ['wide-krv880.frt', 'narrow-krv330.frt']);
  await expectConvertedAsCommandLine(tab, 'narrow-krv330.frt');
  await tab.screenshot({ path: path.join(artifacts, 'web.png'), fullPage: true });

  // A failure shows the command line's reason without its prefix and offers nothing to download.
  const broken = Buffer.from('@i1KRV330\r\n@t1FMT export\r\n$"A "010800011;100\r\n', 'latin1');
  const expected = expectedFor('broken.frt', broken);
  await tab.check('#add-to-list');
  await tab.setInputFiles('#files', { name: 'broken.frt', mimeType: 'text/plain', buffer: broken });
  await tab.waitForSelector('#results li:nth-child(3)');
  assert.equal(await tab.textContent('#report'), expected.stdout.replace(/\n$/, ''));
  assert.equal(await tab.textContent('#messages'), expected.stderr.replace(/^quarnel: /, '').replace(/\n$/, ''));
  assert.equal(await tab.isVisible('#download'), false);
  assert.equal(await tab.textContent('#summary'), '2 converted, 0 not necessary, 1 failed');
  const reason = expected.stderr.replace(/^quarnel: broken.frt: /, '').trim();
  assert.equal(await tab.textContent('#failure-list'), `✗ broken.frt: ${reason}`);
  await tab.context().close();
});

// A folder of 30 files in sub-folders, with names that `quarnel -r` leaves out.
function makeFolder() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'quarnel-page-'));
  const jobs = path.join(root, 'jobs');
  const narrow = fs.readFileSync(sampleFile('narrow-krv330.frt'));
  const files = {
    'other.frt': fs.readFileSync(sampleFile('other-model.frt')),
    'sub/broken.frt': Buffer.from('@i1KRV330\r\n@t1XYZ\r\n', 'latin1'),
    'sub/UPPER.FRT': fs.readFileSync(sampleFile('wide-krv880.frt')),
    // Left out: targets, hidden names, other extensions, hidden folders.
    'QZ_old.frt': narrow, 'sub/qz_lower.frt': narrow, '.hidden.frt': narrow, 'notes.txt': narrow,
    '.git/inside.frt': narrow,
  };
  for (let i = 0; i < 27; i += 1) files[`${['', 'sub/', 'sub/deep/'][i % 3]}job ${i}.frt`] = narrow;
  for (const [name, bytes] of Object.entries(files)) {
    fs.mkdirSync(path.dirname(path.join(jobs, name)), { recursive: true });
    fs.writeFileSync(path.join(jobs, name), bytes);
  }
  return { root, jobs };
}

// Every file below `folder`, by its path relative to `prefix`.
function listFiles(folder, prefix = '') {
  const found = {};
  for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
    const full = path.join(folder, entry.name);
    if (entry.isDirectory()) Object.assign(found, listFiles(full, `${prefix}${entry.name}/`));
    else found[`${prefix}${entry.name}`] = fs.readFileSync(full);
  }
  return found;
}

const zipOf = async (tab) => fflate.unzipSync(new Uint8Array((await downloadedBytes(tab, '#download-all')).bytes));

test('a picked folder: summary, failure and zip on the first screen; a new pick is a new list', async () => {
  const { root, jobs } = makeFolder();
  try {
    const out = path.join(root, 'out');
    const batch = spawnSync(cli, ['-q', '-r', '-o', out, jobs], { encoding: 'latin1' });
    const counts = batch.stderr.trim().split('\n').at(-1).replace(/ in [\d.]+ s$/, '');
    assert.equal(counts, '28 converted, 1 not necessary, 1 failed');
    const expected = listFiles(out, 'jobs/');

    for (const [width, height] of [[1280, 800], [360, 640]]) {
      const tab = await openPage(`${origin}/`, { viewport: { width, height } });
      await tab.setInputFiles('#folders', jobs);
      await tab.waitForFunction(() => document.getElementById('status').textContent === '30 files done.');
      assert.equal(await tab.textContent('#summary'), counts);
      assert.match(await tab.textContent('#failure-list'), /^✗ jobs\/sub\/broken\.frt: line 2: /);
      // The module's note on a file that needs no conversion, in its row.
      const otherRow = tab.locator('#results li', { hasText: 'jobs/other.frt' });
      assert.match(await otherRow.locator('.counts').textContent(), /^the model line names "TS9200", not /);
      await tab.screenshot({ path: path.join(artifacts, `web-folder-${width}x${height}.png`) });
      assert.deepEqual(await outOfView(tab, ['summary', 'failures', 'download-all']), [], `${width}×${height}`);
      assert.equal(await tab.evaluate(() => document.getElementById('newest').open), false);
      await tab.context().close();
    }

    const tab = await openPage(`${origin}/`);
    await tab.setInputFiles('#folders', jobs);
    await tab.waitForFunction(() => document.getElementById('status').textContent === '30 files done.');
    await tab.check('#failures-only');
    assert.deepEqual(await tab.locator('#results .path').filter({ visible: true }).allTextContents(),
      ['jobs/sub/broken.frt']);
    await tab.uncheck('#failures-only');
    const zip = await downloadedBytes(tab, '#download-all');
    assert.equal(zip.name, 'QZ_jobs.zip');
    const unzipped = fflate.unzipSync(new Uint8Array(zip.bytes));
    assert.deepEqual(Object.keys(unzipped).sort(), Object.keys(expected).sort());
    for (const [name, bytes] of Object.entries(expected)) assert.ok(bytes.equals(unzipped[name]), name);

    // Fixed and picked again: a new list, in which nothing is left out of the zip.
    const done = (count) => tab.waitForFunction(
      (n) => document.getElementById('status').textContent === `${n} files done.`, count);
    fs.copyFileSync(sampleFile('narrow-krv330.frt'), path.join(jobs, 'sub/broken.frt'));
    await tab.evaluate(() => { document.getElementById('status').textContent = ''; });
    await tab.setInputFiles('#folders', jobs);
    await done(30);
    assert.equal(await tab.textContent('#summary'), '29 converted, 1 not necessary, 0 failed');
    assert.equal(await tab.locator('#results li').count(), 30);
    assert.equal(await tab.locator('#results .clash:visible').count(), 0);
    assert.equal(await tab.isVisible('#failures'), false);
    assert.match(await tab.textContent('#list-note'),
      /^The list and the zip hold the 30 files just picked\. The 30 files picked before/);
    assert.equal(Object.keys(await zipOf(tab)).length, 29);

    // Added to the list: the same files replace their rows where they stand, another one joins them.
    const paths = await tab.locator('#results .path').allTextContents();
    fs.writeFileSync(path.join(jobs, 'sub/broken.frt'), '@i1KRV330\r\n@t1XYZ\r\n');
    await tab.check('#add-to-list');
    await tab.evaluate(() => { document.getElementById('status').textContent = ''; });
    await tab.setInputFiles('#folders', jobs);
    await done(30);
    assert.equal(await tab.textContent('#summary'), counts);
    assert.match(await tab.textContent('#list-note'),
      /^The list and the zip hold 30 files from 2 picks\. 30 files picked again/);
    await tab.setInputFiles('#files', sampleFile('wide-krv880.frt'));
    await tab.waitForFunction(() => document.getElementById('status').textContent === 'wide-krv880.frt done.');
    assert.deepEqual(await tab.locator('#results .path').allTextContents(), [...paths, 'wide-krv880.frt']);
    assert.equal(await tab.textContent('#list-note'), 'The list and the zip hold 31 files from 3 picks.');
    assert.equal(Object.keys(await zipOf(tab)).length, 29);
    await tab.uncheck('#add-to-list');

    await tab.click('#clear');
    assert.equal(await tab.locator('#results li').count(), 0);
    assert.equal(await tab.isVisible('#download-all'), false);
    await tab.context().close();
  } finally {
    fs.rmSync(root, { recursive: true, force: true });
  }
});

test('a folder without .frt files says so', async () => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'quarnel-page-'));
  try {
    const cases = [
      ['empty', {}, 'The folder holds no .frt file'],
      ['notes', { 'notes.txt': 'x', 'QZ_old.frt': 'x', '.hidden.frt': 'x' }, 'The folder notes holds no .frt file'],
    ];
    const tab = await openPage(`${origin}/`);
    for (const [name, files, message] of cases) {
      fs.mkdirSync(path.join(root, name));
      for (const [file, text] of Object.entries(files)) fs.writeFileSync(path.join(root, name, file), text);
      await tab.evaluate(() => { document.getElementById('status').textContent = ''; });
      await tab.setInputFiles('#folders', path.join(root, name));
      await tab.waitForFunction(() => document.getElementById('status').textContent !== '');
      assert.ok((await tab.textContent('#status')).startsWith(message), name);
      assert.equal(await tab.isVisible('#batch'), false, name);
    }
    await tab.context().close();
  } finally {
    fs.rmSync(root, { recursive: true, force: true });
  }
});

test('a dropped folder is walked; names Windows refuses are changed in the zip', async () => {
  const tab = await openPage(`${origin}/`);
  const narrow = [...fs.readFileSync(sampleFile('narrow-krv330.frt'))];
  const drop = (tree) => tab.evaluate(([content, shape]) => {
    // A scripted drop carries no folder entries: these stand in for them.
    const file = (name) => ({ name, isFile: true, isDirectory: false,
      file: (done) => done(new File([new Uint8Array(content)], name)) });
    const folder = (name, children) => ({ name, isFile: false, isDirectory: true, createReader() {
      let given = false;
      // Entries come in parts, as a browser gives a large folder.
      return { readEntries: (done) => { done(given ? [] : children); given = true; } };
    } });
    const build = ([name, children]) => (children ? folder(name, children.map(build)) : file(name));
    const event = new Event('drop', { bubbles: true, cancelable: true });
    Object.defineProperty(event, 'dataTransfer', { value: { items: shape.map((entry) => build(entry))
      .map((entry) => ({ kind: 'file', webkitGetAsEntry: () => entry })) } });
    document.dispatchEvent(event);
  }, [narrow, tree]);
  const dropped = async (tree, count) => {
    await tab.evaluate(() => { document.getElementById('status').textContent = ''; });
    await drop(tree);
    await tab.waitForFunction((n) => document.getElementById('status').textContent === `${n} files done.`, count);
  };

  await dropped([['site', [['b.frt'], ['notes.txt'], ['QZ_b.frt'], ['.git', [['c.frt']]],
    ['a', [['x.Frt'], ['.y.frt']]]]], ['loose.txt']], 3);
  assert.deepEqual(await tab.locator('#results .path').allTextContents(), ['site/a/x.Frt', 'site/b.frt', 'loose.txt']);

  // A new drop is a new list. A Linux name may hold "\", which Windows extractors split on.
  await dropped([['site', [['a\\..\\..\\x.frt'], ['CON.frt'], ['aux', [['job.frt']]], ['a:b.frt'], ['a_b.frt'],
    ['end.', [['job.frt']]]]]], 6);
  const zip = await downloadedBytes(tab, '#download-all');
  assert.equal(zip.name, 'QZ_site.zip');
  assert.deepEqual(Object.keys(fflate.unzipSync(new Uint8Array(zip.bytes))).sort(),
    ['site/QZ_CON.frt', 'site/QZ_a_.._.._x.frt', 'site/QZ_a_b.frt', 'site/_aux/QZ_job.frt', 'site/end_/QZ_job.frt']);
  const notes = (selector) => tab.locator(`#results li ${selector}`).allTextContents();
  assert.deepEqual((await notes('.renamed')).map((note) => note.split(':')[0]),
    ['In the zip as site/QZ_a_b.frt', 'In the zip as site/QZ_a_.._.._x.frt', 'In the zip as site/_aux/QZ_job.frt',
      'In the zip as site/end_/QZ_job.frt']);
  // "a:b.frt" and "a_b.frt" meet in one name once changed; the later one stays out.
  assert.deepEqual(await tab.locator('#results li .clash:visible').allTextContents(),
    ['Not in the zip: site/a:b.frt already takes site/QZ_a_b.frt.']);
  await tab.context().close();
});

test('the change view shows each kind of change where it stands', async () => {
  const tab = await openPage(`${origin}/`);
  const source = Buffer.from('@i1KRV330\r\n@l1KRV330_Standard\r\n$"P"123456051;100;120;045\r\nplain\r\n', 'latin1');
  await tab.setInputFiles('#files', { name: 'every-change.frt', mimeType: 'text/plain', buffer: source });
  await tab.click('#results li details.changes > summary');
  const changes = tab.locator('#results li details.changes .change');
  assert.deepEqual(await changes.locator('.where').allTextContents(), [
    'Line 1: header line rewritten', 'Line 2: header line rewritten',
    'Line 3: format line rewritten, application 120 removed, variable 51 to move']);
  const format = changes.nth(2);
  assert.deepEqual(await format.locator('.before del').allTextContents(), ['123456', '051', '100', '120', '045']);
  assert.deepEqual(await format.locator('.before mark.flagged').allTextContents(), ['051']);
  assert.deepEqual(await format.locator('.after ins').allTextContents(), ['12345060051', '00107', '00045']);
  assert.equal(await format.locator('.after').textContent(), '$"P"12345060051;00107;;00045');
  await tab.context().close();
});

test('a dropped file converts', async () => {
  const tab = await openPage(`${origin}/`);
  const bytes = fs.readFileSync(sampleFile('narrow-krv330.frt'));
  await tab.evaluate(([name, content]) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(content)], name));
    document.getElementById('drop-zone').dispatchEvent(
      new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, ['narrow-krv330.frt', [...bytes]]);
  await tab.waitForSelector('#report');
  await expectConvertedAsCommandLine(tab, 'narrow-krv330.frt');
  await tab.context().close();
});

test('opened from disk, the page converts too', async () => {
  const tab = await openPage(pathToFileURL(page).href);
  await tab.setInputFiles('#files', sampleFile('wide-krv880.frt'));
  await tab.waitForSelector('#report');
  await expectConvertedAsCommandLine(tab, 'wide-krv880.frt');
  await tab.context().close();
});

test('usable by keyboard, on a phone and in the dark', async () => {
  const tab = await openPage(`${origin}/`, { viewport: { width: 360, height: 640 }, colorScheme: 'dark' });
  await tab.keyboard.press('Tab');
  assert.equal(await tab.evaluate(() => document.activeElement.id), 'files');
  assert.equal(await tab.evaluate(() => document.getElementById('files').labels.length), 1);
  await tab.setInputFiles('#files', sampleFile('narrow-krv330.frt'));
  await tab.waitForSelector('#download:visible');
  assert.deepEqual(await outOfView(tab, ['download']), []);
  // Nothing wider than the phone's screen; the report wraps instead.
  assert.ok(await tab.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  const background = await tab.evaluate(() => getComputedStyle(document.body).backgroundColor);
  assert.notEqual(background, 'rgb(255, 255, 255)');
  await tab.context().close();
});

test('no request left the page\'s origin', () => {
  assert.deepEqual(foreignRequests, []);
});
