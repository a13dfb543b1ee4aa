// The web page vexorin-check.html in the other engines a recipient may use: Firefox (Debian's
// firefox-esr, headless, driven over WebDriver BiDi by puppeteer-core) and WebKit, Safari's
// engine (Debian's WebKitGTK MiniBrowser through its WebKitWebDriver, driven by
// selenium-webdriver; it shows a window, on an Xvfb display of its own). The page is opened from
// file:// and from a static server on 127.0.0.1; folders built by the real vexorin-build are
// dropped on it and its texts compared with the checker's and its report with vexorin-check's.
//
// Neither driver can hand a folder to an <input webkitdirectory>: Firefox's input.setFiles
// refuses a directory ("File error: Is directory"), and WebKitWebDriver hands the page the
// folder as one empty file without a relative path. So the folders come through the page's own
// drop handling, as a drop with directory entries whose files are real File objects of the
// folder's bytes.
//
// usage: node test_engines.mjs --engine firefox|webkit --page HTML --build VEXORIN_BUILD
//                              --check VEXORIN_CHECK [--browser FIREFOX|WEBKITWEBDRIVER]
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import {pathToFileURL} from 'node:url';
import {createRequire} from 'node:module';
import {
  parseArgs, CUSTOM, DEFAULT_1, DEFAULT_2, INTACT, TREE, check, same, finish, skip, Trees, pageReport, servePage,
  logViolationsInPage, phaseEndedInPage, shownInPage, dropItems, dropInPage, countReadsInPage, checkerTail, dropFileInPage,
} from './page_support.mjs';

const require = createRequire(import.meta.url);
const args = parseArgs(['page', 'build', 'check']);
const trees = new Trees(args);
// How long a check of these small folders may take before the page is taken to hang.
const PATIENCE = 120000;
// The processes this run started, ended with it however it ends (a driver left running would
// hold the test's output open).
const started = [];
process.on('exit', () => started.forEach((child) => child.kill()));

// Firefox over WebDriver BiDi: every request a tab makes after its page has loaded is logged.
async function firefox() {
  const puppeteer = require('puppeteer-core');
  const browser = await puppeteer.launch({
    browser: 'firefox', executablePath: args.browser || '/usr/bin/firefox-esr', headless: true,
    extraPrefsFirefox: {'intl.accept_languages': 'ja-JP'},
  });
  return {
    name: `Firefox ${await browser.version()}`,
    async open(url) {
      const page = await browser.newPage();
      const log = {loaded: false, requests: [], errors: []};
      page.on('request', (request) => { if (log.loaded) log.requests.push(request.url()); });
      page.on('pageerror', (error) => log.errors.push(String(error)));
      await page.goto(url);
      await page.waitForFunction(() => window.vexorinPage !== undefined, {timeout: PATIENCE});
      log.loaded = true;
      return {
        log,
        evaluate: (fn, arg) => page.evaluate(fn, arg),
        waitFor: (fn) => page.waitForFunction(fn, {timeout: PATIENCE, polling: 100}),
        close: () => page.close(),
      };
    },
    close: () => browser.close(),
  };
}

// A free port on 127.0.0.1 for WebKitWebDriver.
function freePort() {
  return new Promise((ok, fail) => {
    const server = net.createServer();
    server.on('error', fail);
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => ok(port));
    });
  });
}

// An Xvfb display of this run's own, on a display number Xvfb picks itself (-displayfd: no
// race with another X server starting at the same time). Resolves to {display, stop}.
function startXvfb() {
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                     {stdio: ['ignore', 'ignore', 'ignore', 'pipe']});
  started.push(xvfb);
  return new Promise((ok, fail) => {
    let said = '';
    xvfb.on('error', fail);
    xvfb.on('exit', (code) => fail(new Error(`Xvfb ended (${code}) before it named its display`)));
    xvfb.stdio[3].on('data', (data) => {
      said += data;
      if (said.endsWith('\n')) ok({display: `:${said.trim()}`, stop: () => xvfb.kill()});
    });
  });
}

// WebKitGTK's MiniBrowser through WebKitWebDriver (classic WebDriver: no request events, so the
// requests are counted by the static server and the Content-Security-Policy's refusal is
// seen in the page). Its language comes from the environment.
async function webkit() {
  const {Builder} = require('selenium-webdriver');
  const port = await freePort();
  const x = await startXvfb();
  const driverProcess = spawn(args.browser || '/usr/bin/WebKitWebDriver', [`--port=${port}`], {
    stdio: ['ignore', 'ignore', 'inherit'],
    env: {...process.env, DISPLAY: x.display, LANG: 'ja_JP.UTF-8', LC_ALL: 'ja_JP.UTF-8'},
  });
  started.push(driverProcess);
  const exited = new Promise((ok) => driverProcess.on('exit', (code) => ok(`WebKitWebDriver ended (${code})`)));
  const server = `http://127.0.0.1:${port}`;
  // WebKitWebDriver takes a moment to listen; its /status says when.
  for (let tries = 0;; ++tries) {
    const ready = await fetch(`${server}/status`).then((r) => r.ok, () => false);
    if (ready) break;
    if (tries === 100 || driverProcess.exitCode !== null) throw new Error(`WebKitWebDriver did not start: ${await Promise.race([exited, 'no answer'])}`);
    await new Promise((ok) => setTimeout(ok, 100));
  }
  const driver = await new Builder().usingServer(server).withCapabilities({
    browserName: 'MiniBrowser',
    'webkitgtk:browserOptions': {binary: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser', args: ['--automation']},
  }).build();
  const evaluate = (fn, arg) => driver.executeScript(`return (${fn})(arguments[0]);`, arg);
  return {
    name: `WebKitGTK ${(await driver.getCapabilities()).get('browserVersion')}`,
    async open(url) {
      await driver.get(url);
      const tab = {
        log: null,
        evaluate,
        async waitFor(fn) {
          const deadline = Date.now() + PATIENCE;
          while (!(await evaluate(fn))) {
            if (Date.now() > deadline) throw new Error(`the page did not come to ${fn.name || fn}`);
            await new Promise((ok) => setTimeout(ok, 100));
          }
        },
        close: async () => {},
      };
      await tab.waitFor(() => window.vexorinPage !== undefined);
      return tab;
    },
    async close() {
      await driver.quit();
      driverProcess.kill();
      x.stop();
    },
  };
}

// In the page: a fetch to `url`, which the page's Content-Security-Policy must refuse.
async function fetchInPage(url) {
  try {
    await fetch(url, {cache: 'no-store'});
    return 'fetched';
  } catch (e) {
    // The violation event comes after the refusal, on its own turn.
    await new Promise((ok) => setTimeout(ok, 200));
    return 'refused';
  }
}

// `value` with every object's keys in order: WebKitWebDriver hands objects over reordered.
function canonical(value) {
  if (Array.isArray(value)) return value.map(canonical);
  if (value === null || typeof value !== 'object') return value;
  return Object.fromEntries(Object.keys(value).sort().map((k) => [k, canonical(value[k])]));
}

// The folder dropped on the page, and what the page shows once it has come to an end with it.
// `gone`: files removed after the drop (see dropInPage).
async function dropFolder(tab, dir, gone = []) {
  await tab.evaluate(() => { document.body.dataset.phase = 'idle'; });
  await tab.evaluate(dropInPage, dropItems(dir, gone));
  await tab.waitFor(phaseEndedInPage);
  return tab.evaluate(shownInPage);
}

const engine = args.engine === 'firefox' ? await firefox() : args.engine === 'webkit' ? await webkit() : null;
if (!engine) throw new Error('--engine firefox or --engine webkit');
console.log(engine.name);

// The folders: intact (表.txt, ソフト/, and ソフト/波～.txt, whose name is 0x8160 in the check
// data and U+FF5E on disk); each problem with the checker's default and the distributor's own
// messages. The texts wanted are the checker's, byte for byte.
const defaults = `${DEFAULT_1}\n${DEFAULT_2}`;
// And a file of more than one of the pieces the page hands over where its workers cannot read.
const files = {...TREE, 'ソフト/大.bin': Buffer.alloc(1048576 + 3).map((_, i) => (i * 7) & 255)};
const intact = trees.make(files);
const custom = trees.make(files, {messages: CUSTOM});
const broken = (root, change) => {
  const tree = trees.copy(root);
  change(tree);
  return tree;
};
const cases = [
  ['intact', intact, INTACT],
  ['missing U+FF5E name, default message', broken(intact, (t) => fs.rmSync(path.join(t, 'ソフト/波～.txt'))),
   `ファイル ソフト\\波～.txt が見つかりません.\n${defaults}`],
  ['damaged file, default message', broken(intact, (t) => fs.writeFileSync(path.join(t, 'z.txt'), 'zzZ')),
   `ファイル z.txt が壊れています.\n${DEFAULT_1}`],
  ['missing file, own message', broken(custom, (t) => fs.rmSync(path.join(t, '表.txt'))), 'ファイル 表.txt が見つかりません.\nファイルがない'],
  ['damaged file, own message', broken(custom, (t) => fs.writeFileSync(path.join(t, 'ソフト/深い/data.bin'), 'short')),
   'ファイル ソフト\\深い\\data.bin が壊れています.\n壊れている'],
];

// Names an unpacker garbled (zipfile: code page 932 read as 437): every entry found under its
// name on disk and read there. And a file larger than the page reads whole (8 MiB), to be
// removed after the drop.
const garbled = trees.garbled(trees.make({'ソフト/表.txt': Buffer.from('hyou'), 'データ/十字架.dat': Buffer.alloc(3000, 9)}));
const large = trees.make({'a.txt': Buffer.from('a'), '大きい.bin': Buffer.alloc((8 << 20) + 1024).map((_, i) => i & 255)});
const largeGone = broken(large, (t) => fs.rmSync(path.join(t, '大きい.bin')));
const tail = checkerTail(path.join(intact, 'Vexorin.exe'));
// A downloaded zip, deflated the way Windows writes it, one entry's data damaged.
const damagedZip = trees.zips().damaged;

const server = await servePage(args.page);
const beacon = `${server.origin}/beacon`;
for (const [origin, url] of [['file://', pathToFileURL(args.page).href], ['http', server.url]]) {
  const served = server.requests.length;
  const tab = await engine.open(url);
  same(server.requests.slice(served), origin === 'http' ? ['/vexorin-check.html'] : [], `${origin}: loading asks the server only for the page`);
  same(await tab.evaluate(() => document.querySelector('h1').textContent), 'Vexorin フォルダ検査', `${origin}: the page speaks Japanese`);
  // WebKit lets no worker of a page from file:// read a File: the page reads them for its workers.
  await tab.waitFor(() => window.vexorinPage.workersRead !== undefined);
  same(await tab.evaluate(() => window.vexorinPage.workersRead), !(args.engine === 'webkit' && origin === 'file://'),
       `${origin}: the page knows whether its workers can read the files`);
  const workersRead = await tab.evaluate(() => window.vexorinPage.workersRead);
  await tab.evaluate(countReadsInPage);
  for (const [what, dir, text] of cases) {
    const shown = await dropFolder(tab, dir);
    same([shown.phase, shown.text], ['done', text], `${origin}: ${what}`);
    same(canonical(shown.json && pageReport(shown)), canonical(trees.nativeReport(dir)), `${origin}: ${what}: the report is vexorin-check's`);
    if (what === 'intact') {
      same(await tab.evaluate(() => window.__reads.byName['Vexorin.exe']), 16 + tail,
           `${origin}: of the checker only its tail is read (${tail} bytes), and its trailer`);
    }
  }
  let shown = await dropFolder(tab, garbled);
  const garbledReport = trees.nativeReport(garbled);
  same([shown.phase, garbledReport.problems.map(p => p.kind).sort().join()],
       ['done', 'file-under-other-name,file-under-other-name,folder-under-other-name,folder-under-other-name'],
       `${origin}: names garbled by zipfile: every entry found`);
  same(canonical(shown.json && pageReport(shown)), canonical(garbledReport), `${origin}: names garbled by zipfile: the report is vexorin-check's`);
  if (!workersRead) {
    // Where the page hands its workers a large file a piece at a time.
    shown = await dropFolder(tab, large, ['大きい.bin']);
    same(canonical(shown.json && pageReport(shown)), canonical(trees.nativeReport(largeGone)),
         `${origin}: a file over 8 MiB removed after the drop is missing`);
  } else if (args.engine === 'webkit' && origin === 'file://') {
    skip('file://: a large file removed after the drop: this WebKit lets workers read Files, so the page reads no piece');
  }
  // The zip dropped before it is unpacked: read in pieces (by the page itself where its workers
  // cannot read a File), inflated by the browser.
  await tab.evaluate(() => { document.body.dataset.phase = 'idle'; });
  await tab.evaluate(dropFileInPage, {top: path.basename(damagedZip), file: fs.readFileSync(damagedZip).toString('base64')});
  await tab.waitFor(phaseEndedInPage);
  shown = await tab.evaluate(shownInPage);
  same([shown.text, canonical(shown.json && pageReport(shown))],
       [`ファイル ソフト\\大.bin が壊れています.\n${DEFAULT_1}`, canonical(trees.nativeZipReport(damagedZip))],
       `${origin}: a zip with a damaged entry: named, the report vexorin-check's`);
  // Nothing leaves the machine: the page's policy refuses a fetch, and the server hears nothing
  // after the page (from file://, a request refused only by cross-origin rules would reach it).
  await tab.evaluate(logViolationsInPage);
  same(await tab.evaluate(fetchInPage, beacon), 'refused', `${origin}: the page's policy refuses a fetch`);
  const violations = await tab.evaluate(() => window.__violations);
  check(violations.length === 1 && /^(connect|default)-src/.test(violations[0]), `${origin}: the refusal is the policy's: ${violations}`);
  same(server.requests.slice(served), origin === 'http' ? ['/vexorin-check.html'] : [], `${origin}: no request reached the server after load`);
  if (tab.log) {
    same(tab.log.requests.filter((u) => !/^(blob|data):/.test(u)), [], `${origin}: the browser made no request after load`);
    // Firefox reports the policy's refusals (the fetch above, its own favicon) as page errors.
    same(tab.log.errors.filter((e) => !e.startsWith('Error: Content-Security-Policy:')), [], `${origin}: no script error`);
  }
  await tab.close();
}

await engine.close();
server.close();
trees.remove();
finish();
