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
  assert.equal(expected.status, 0);
  assert.equal(await tab.textContent('#report'), expected.stdout.replace(/\n$/, ''));
  const download = await downloadedBytes(tab);
  assert.equal(download.name, `QZ_${name}`);
  assert.ok(download.bytes.equals(expected.target), `${name}: downloaded bytes`);
}

// The newest result's download is in view without scrolling.
const downloadInView = (tab) => tab.evaluate(() => {
  const box = document.getElementById('download').getBoundingClientRect();
  return box.height > 0 && box.bottom <= window.innerHeight;
});

test('files picked convert as on the command line, in the order taken', async () => {
  const tab = await openPage(`${origin}/`, { viewport: { width: 1280, height: 800 } });
  await tab.setInputFiles('#files', [sampleFile('wide-krv880.frt'), sampleFile('narrow-krv330.frt')]);
  await tab.waitForSelector('#results li:nth-child(2)');
  assert.deepEqual(await tab.locator('#results .path').allTextContents(), ['wide-krv880.frt', 'narrow-krv330.frt']);
  await expectConvertedAsCommandLine(tab, 'narrow-krv330.frt');
  assert.ok(await downloadInView(tab));
  await tab.screenshot({ path: path.join(artifacts, 'web.png'), fullPage: true });

  // A failure shows the command line's reason without its prefix and offers nothing to download.
  const broken = Buffer.from('@i1KRV330\r\n@t1FMT export\r\n$"A "010800011;100\r\n', 'latin1');
  const expected = expectedFor('broken.frt', broken);
  await tab.setInputFiles('#files', { name: 'broken.frt', mimeType: 'text/plain', buffer: broken });
  await tab.waitForSelector('#results li:nth-child(3)');
  assert.equal(await tab.textContent('#report'), expected.stdout.replace(/\n$/, ''));
  assert.equal(await tab.textContent('#messages'), expected.stderr.replace(/^quarnel: /, '').replace(/\n$/, ''));
  assert.equal(await tab.isVisible('#download'), false);
  assert.equal(await tab.textContent('#summary'), '2 converted, 0 not necessary, 1 failed');
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

test('a picked folder: the summary, the filter, the zip as quarnel -r -o writes it', async () => {
  const { root, jobs } = makeFolder();
  try {
    const out = path.join(root, 'out');
    const batch = spawnSync(cli, ['-q', '-r', '-o', out, jobs], { encoding: 'latin1' });
    const counts = batch.stderr.trim().split('\n').at(-1).replace(/ in [\d.]+ s$/, '');
    assert.equal(counts, '28 converted, 1 not necessary, 1 failed');

    const tab = await openPage(`${origin}/`, { viewport: { width: 360, height: 640 } });
    await tab.setInputFiles('#folders', jobs);
    await tab.waitForFunction(() => document.getElementById('status').textContent === '30 files done.');
    assert.equal(await tab.textContent('#summary'), counts);
    assert.ok(await downloadInView(tab));

    await tab.check('#failures-only');
    assert.deepEqual(await tab.locator('#results .path').filter({ visible: true }).allTextContents(),
      ['jobs/sub/broken.frt']);
    await tab.uncheck('#failures-only');

    const zip = await downloadedBytes(tab, '#download-all');
    assert.equal(zip.name, 'QZ_jobs.zip');
    const unzipped = fflate.unzipSync(new Uint8Array(zip.bytes));
    const expected = listFiles(out, 'jobs/');
    assert.deepEqual(Object.keys(unzipped).sort(), Object.keys(expected).sort());
    for (const [name, bytes] of Object.entries(expected)) assert.ok(bytes.equals(unzipped[name]), name);

    await tab.click('#clear');
    assert.equal(await tab.locator('#results li').count(), 0);
    assert.equal(await tab.isVisible('#download-all'), false);
    await tab.context().close();
  } finally {
    fs.rmSync(root, { recursive: true, force: true });
  }
});

test('a dropped folder is walked; a second drop of it stays out of the zip', async () => {
  const tab = await openPage(`${origin}/`);
  const narrow = [...fs.readFileSync(sampleFile('narrow-krv330.frt'))];
  const drop = () => tab.evaluate((content) => {
    // A scripted drop carries no folder entries: these stand in for them.
    const file = (name) => ({ name, isFile: true, isDirectory: false,
      file: (done) => done(new File([new Uint8Array(content)], name)) });
    const folder = (name, children) => ({ name, isFile: false, isDirectory: true, createReader() {
      let given = false;
      // Entries come in parts, as a browser gives a large folder.
      return { readEntries: (done) => { done(given ? [] : children); given = true; } };
    } });
    const tree = folder('site', [file('b.frt'), file('notes.txt'), file('QZ_b.frt'), folder('.git', [file('c.frt')]),
      folder('a', [file('x.Frt'), file('.y.frt')])]);
    const event = new Event('drop', { bubbles: true, cancelable: true });
    Object.defineProperty(event, 'dataTransfer', { value: { items: [
      { kind: 'file', webkitGetAsEntry: () => tree }, { kind: 'file', webkitGetAsEntry: () => file('loose.txt') }] } });
    document.dispatchEvent(event);
  }, narrow);
  await drop();
  await tab.waitForFunction(() => document.getElementById('status').textContent === '3 files done.');
  await drop();
  await tab.waitForFunction(() => document.querySelectorAll('#results li').length === 6);
  assert.deepEqual(await tab.locator('#results .path').allTextContents(),
    ['site/a/x.Frt', 'site/b.frt', 'loose.txt', 'site/a/x.Frt', 'site/b.frt', 'loose.txt']);
  assert.equal(await tab.locator('#results li .clash').count(), 3);
  assert.match(await tab.textContent('#results li:nth-child(4) .clash'), /site\/a\/QZ_x\.Frt/);
  const zip = await downloadedBytes(tab, '#download-all');
  assert.equal(zip.name, 'QZ_converted.zip');
  assert.deepEqual(Object.keys(fflate.unzipSync(new Uint8Array(zip.bytes))).sort(),
    ['QZ_loose.txt', 'site/QZ_b.frt', 'site/a/QZ_x.Frt']);
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
  assert.ok(await downloadInView(tab));
  // Nothing wider than the phone's screen; the report wraps instead.
  assert.ok(await tab.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  const background = await tab.evaluate(() => getComputedStyle(document.body).backgroundColor);
  assert.notEqual(background, 'rgb(255, 255, 255)');
  await tab.context().close();
});

test('no request left the page\'s origin', () => {
  assert.deepEqual(foreignRequests, []);
});
