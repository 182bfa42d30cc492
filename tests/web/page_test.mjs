// The page in Debian's Chromium, served from a local origin and opened from
// disk: it converts as the command line does and asks no other origin for
// anything.
// Usage: node page_test.mjs INDEX.html QUARNEL_CLI SAMPLES_DIR NODE_MODULES ARTIFACTS_DIR
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { runCommandLine } from './command_line.mjs';

const [page, cli, samples, nodeModules, artifacts] = process.argv.slice(2).map((arg) => path.resolve(arg));
const { chromium } = createRequire(path.join(nodeModules, 'noop.js'))('playwright-core');

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

async function downloadedBytes(tab) {
  const [download] = await Promise.all([tab.waitForEvent('download'), tab.click('#download')]);
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

test('files picked convert as on the command line, the newest on top', async () => {
  const tab = await openPage(`${origin}/`);
  await tab.setInputFiles('#files', [sampleFile('wide-krv880.frt'), sampleFile('narrow-krv330.frt')]);
  await tab.waitForSelector('.result:nth-child(2)');
  assert.deepEqual(await tab.locator('.result h2').allTextContents(), ['narrow-krv330.frt', 'wide-krv880.frt']);
  await expectConvertedAsCommandLine(tab, 'narrow-krv330.frt');
  await tab.screenshot({ path: path.join(artifacts, 'web.png'), fullPage: true });

  // A failure shows the command line's reason and offers nothing to download.
  const broken = Buffer.from('@i1KRV330\r\n@t1FMT export\r\n$"A "010800011;100\r\n', 'latin1');
  const expected = expectedFor('broken.frt', broken);
  await tab.setInputFiles('#files', { name: 'broken.frt', mimeType: 'text/plain', buffer: broken });
  await tab.waitForSelector('.result:nth-child(3)');
  assert.equal(await tab.textContent('#report'), expected.stdout.replace(/\n$/, ''));
  assert.equal(await tab.textContent('.result:first-child .messages'), expected.stderr.replace(/\n$/, ''));
  assert.equal(await tab.isVisible('#download'), false);
  assert.equal(await tab.locator('a[download]').count(), 2);
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
  const tab = await openPage(`${origin}/`, { viewport: { width: 360, height: 740 }, colorScheme: 'dark' });
  await tab.keyboard.press('Tab');
  assert.equal(await tab.evaluate(() => document.activeElement.id), 'files');
  assert.equal(await tab.evaluate(() => document.getElementById('files').labels.length), 1);
  await tab.setInputFiles('#files', sampleFile('narrow-krv330.frt'));
  await tab.waitForSelector('#report');
  // Nothing wider than the phone's screen; the report wraps instead.
  assert.ok(await tab.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  const background = await tab.evaluate(() => getComputedStyle(document.body).backgroundColor);
  assert.notEqual(background, 'rgb(255, 255, 255)');
  await tab.context().close();
});

test('no request left the page\'s origin', () => {
  assert.deepEqual(foreignRequests, []);
});
