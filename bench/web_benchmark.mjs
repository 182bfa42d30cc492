// The page's time for one file as a user sees it: from the drop until the
// report is on the screen (the file read, the copy into the module, the
// conversion, the report drawn and the download made ready), in Debian's
// Chromium; from opening a file's change view until its first page shows; a
// batch of many small files from picking them until the table is full and
// the zip downloaded; and the module's conversion alone under Node.
// Usage: node web_benchmark.mjs INDEX.html MODULE.wasm FILE.frt NODE_MODULES [REPETITIONS [SMALL.frt]]
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import vm from 'node:vm';

const [page, modulePath, sourcePath, nodeModules] = process.argv.slice(2, 6).map((arg) => path.resolve(arg));
const repetitions = Number(process.argv[6] ?? 15);
const source = fs.readFileSync(sourcePath);
const summary = (times) => {
  const sorted = [...times].sort((a, b) => a - b);
  return `best ${sorted[0].toFixed(1)} ms, median ${sorted[sorted.length >> 1].toFixed(1)} ms`;
};

vm.runInThisContext(
  `${fs.readFileSync(new URL('../web/quarnel_engine.js', import.meta.url), 'utf8')}\nglobalThis.QuarnelEngine = QuarnelEngine;`);
const engine = await globalThis.QuarnelEngine.load(fs.readFileSync(modulePath));
const moduleTimes = [];
for (let i = 0; i < repetitions; ++i) {
  const start = performance.now();
  const outcome = engine.convert('bench.frt', source);
  moduleTimes.push(performance.now() - start);
  if (outcome.status !== 0) throw new Error(`the benchmark file did not convert: ${outcome.report}`);
}
console.log(`module under Node ${process.version}, ${source.length} bytes: ${summary(moduleTimes)}`);

const { chromium } = createRequire(path.join(nodeModules, 'noop.js'))('playwright-core');
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
const tab = await browser.newPage();
await tab.goto(pathToFileURL(page).href);
await tab.evaluate((base64) => {
  window.benchSource = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
}, source.toString('base64'));
// Each drop adds its row to the list, so that each change view below has its own.
await tab.evaluate(() => { document.getElementById('add-to-list').checked = true; });
const pageTimes = [];
for (let i = 0; i < repetitions; ++i) {
  pageTimes.push(await tab.evaluate((name) => new Promise((resolve) => {
    const results = document.getElementById('results');
    const start = performance.now();
    new MutationObserver((_, observer) => {
      observer.disconnect();
      // The next frame is the one that shows the new row.
      requestAnimationFrame(() => setTimeout(() => resolve(performance.now() - start)));
    }).observe(results, { childList: true });
    const transfer = new DataTransfer();
    transfer.items.add(new File([window.benchSource], name));
    document.getElementById('drop-zone').dispatchEvent(
      new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }), `bench-${i}.frt`));
}
console.log(`page in Chromium ${browser.version()}, drop to report shown: ${summary(pageTimes)}`);

// Each row above is one conversion of the file; each change view is opened once.
const viewTimes = [];
for (let i = 0; i < repetitions; ++i) {
  viewTimes.push(await tab.evaluate((index) => new Promise((resolve) => {
    const view = document.querySelectorAll('#results details.changes')[index];
    const start = performance.now();
    view.addEventListener('toggle', () => requestAnimationFrame(() => setTimeout(() => resolve(performance.now() - start))),
      { once: true });
    view.open = true;
  }), i));
}
console.log(`change view of the same file, open to first page shown: ${summary(viewTimes)}`);

const smallPath = process.argv[7];
if (smallPath) {
  const count = 1000;
  const folder = fs.mkdtempSync(path.join(path.dirname(smallPath), 'quarnel-web-batch-'));
  const paths = [];
  for (let i = 0; i < count; ++i) {
    paths.push(path.join(folder, `file ${i}.frt`));
    fs.copyFileSync(smallPath, paths.at(-1));
  }
  // Each pick a new list.
  await tab.evaluate(() => { document.getElementById('add-to-list').checked = false; });
  const batchTimes = [];
  for (let i = 0; i < 5; ++i) {
    await tab.click('#clear');
    const start = performance.now();
    await tab.setInputFiles('#files', paths);
    await tab.waitForFunction((n) => document.getElementById('status').textContent === `${n} files done.`, count,
      { polling: 'raf', timeout: 0 });
    const [download] = await Promise.all([tab.waitForEvent('download'), tab.click('#download-all')]);
    await download.path();
    batchTimes.push(performance.now() - start);
  }
  fs.rmSync(folder, { recursive: true, force: true });
  console.log(`${count} files of ${fs.statSync(smallPath).size} bytes, picked to table and zip downloaded: ` +
    `${summary(batchTimes)} (5 runs)`);
}
await browser.close();
