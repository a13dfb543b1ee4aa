// The web page against the native vexorin-check, side by side in one run in headless Chromium:
// the benchmark's tree of 1 GiB in 1,000 files and its tree of 20,000 files (page cache warm),
// the page's time from the folder handed over to the result against vexorin-check's wall time
// with as many jobs as the page has digest workers, and against reading alone (the same files
// only read, each on its own, in workers); and the tab's peak memory (resident set of the page's
// renderer process, its workers included) over 100,000 files.
//
// usage: node bench/web_bench.mjs [--build build/linux] [--work DIR] [--rounds 3] [--keep]
//                                 [--memory-only]
// Needs what tests/web needs (tools/install-deps.sh): Chromium and playwright-core.
import {execFileSync, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {createRequire} from 'node:module';
import {fileURLToPath, pathToFileURL} from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const require = createRequire(path.join(root, 'tests/web/'));
const {chromium} = require('playwright-core');
const args = {build: path.join(root, 'build/linux'), work: path.join(os.tmpdir(), 'vexorin-web-bench'), rounds: '3'};
for (let i = 2; i < process.argv.length; ++i) {
  const key = process.argv[i].replace(/^--/, '');
  args[key] = key === 'keep' || key === 'memory-only' ? true : process.argv[++i];
}
const rounds = Number(args.rounds);
const check = path.join(args.build, 'cli/vexorin-check');
const build = path.join(args.build, 'cli/vexorin-build');
const pageUrl = pathToFileURL(path.join(args.build, 'web/vexorin-check.html')).href;

function gen(dir, count, min, max, seed, extra = []) {
  if (fs.existsSync(path.join(dir, 'Vexorin.exe'))) return;
  execFileSync('python3', [path.join(root, 'bench/gen_tree.py'), dir, String(count), String(min), String(max),
                           '--seed', String(seed), ...extra], {stdio: 'inherit'});
  execFileSync(build, ['--yes', dir], {stdio: 'ignore'});
}
function warm(dir) { execFileSync('sh', ['-c', `find "${dir}" -type f -exec cat {} + > /dev/null`]); }
const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

fs.mkdirSync(args.work, {recursive: true});
const large = path.join(args.work, 'large');
const small = path.join(args.work, 'small');
const many = path.join(args.work, 'many');
gen(large, 1000, 512 * 1024, 1536 * 1024, 1, ['--total', String(1 << 30), '--per-folder', '100']);
gen(small, 20000, 0, 16384, 2, ['--per-folder', '200']);
gen(many, 100000, 0, 256, 3);

const browser = await chromium.launch({executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update', '--no-first-run']});
let page = await browser.newPage();
await page.goto(pageUrl);
const workers = await page.evaluate(() => Math.max(1, Math.min(navigator.hardwareConcurrency || 2, 8)));

// The page's time from the folder handed over to the result, and when its steps ended: the
// check's list of files ready, every file digested (seconds from the start).
const steps = [];
async function pageSeconds(dir) {
  await page.evaluate(() => { document.body.dataset.phase = 'idle'; });
  await page.setInputFiles('#folder', dir, {timeout: 0});
  await page.waitForFunction(() => ['done', 'message'].includes(document.body.dataset.phase), null, {timeout: 1800000});
  const r = await page.evaluate(() => {
    const s = window.vexorinPage;
    return [s.seconds, s.result && s.result.outcome, (s.listedAt - s.startedAt) / 1000, (s.digestedAt - s.startedAt) / 1000];
  });
  if (r[1] !== 'intact') throw new Error(`${dir}: the page says ${r[1]}`);
  steps.push([r[2], r[3]]);
  return r[0];
}

// Reading alone: a page with nothing but a folder input whose workers (as many as the page has
// digest workers) read every file chosen, each on its own, as the page's digest workers did
// before the page read a batch's files as one Blob (whole up to 8 MiB, four at once, larger
// ones as streams, in batches of at most 64 files and 16 MiB) and digest nothing: no longer a
// floor for the page, which reads faster. Seconds from the input's change to the last byte.
const floorPage = await browser.newPage();
await floorPage.setContent('<input type=file id=folder webkitdirectory>');
await floorPage.evaluate((workers) => {
  const reader = `onmessage = async (e) => {
    let next = 0, bytes = 0;
    const one = async () => {
      while (next < e.data.length) {
        const file = e.data[next++];
        if (file.size > (8 << 20)) {
          const r = file.stream().getReader();
          for (;;) { const {done, value} = await r.read(); if (done) break; bytes += value.length; }
        } else {
          bytes += (await file.arrayBuffer()).byteLength;
        }
      }
    };
    await Promise.all([one(), one(), one(), one()]);
    postMessage(bytes);
  };`;
  const url = URL.createObjectURL(new Blob([reader], {type: 'text/javascript'}));
  const input = document.getElementById('folder');
  input.onchange = () => {
    const started = performance.now();
    const files = [...input.files];
    const pool = Array.from({length: workers}, () => new Worker(url));
    let next = 0, busy = 0;
    const feed = (w) => {
      const batch = [];
      let size = 0;
      while (next < files.length && batch.length < 64 && size < (16 << 20)) size += (batch[batch.length] = files[next++]).size;
      if (!batch.length) return false;
      ++busy;
      w.postMessage(batch);
      return true;
    };
    for (const w of pool) {
      w.onmessage = () => {
        --busy;
        if (!feed(w) && busy === 0) {
          window.floorSeconds = (performance.now() - started) / 1000;
          for (const x of pool) x.terminate();
        }
      };
      feed(w);
      feed(w);
    }
  };
}, workers);
async function floorSeconds(dir) {
  await floorPage.evaluate(() => { window.floorSeconds = null; });
  await floorPage.setInputFiles('#folder', dir, {timeout: 0});
  await floorPage.waitForFunction(() => window.floorSeconds !== null, null, {timeout: 1800000});
  return floorPage.evaluate(() => window.floorSeconds);
}
function nativeSeconds(dir) {
  const t = process.hrtime.bigint();
  const r = spawnSync(check, ['--jobs', String(workers)], {cwd: dir});
  if (r.status !== 0) throw new Error(`${dir}: vexorin-check exit ${r.status}`);
  return Number(process.hrtime.bigint() - t) / 1e9;
}

// The tab's resident set: the largest renderer process of the browser (the tab's, which holds
// its page and its workers; the browser may keep a spare renderer beside it).
function rendererRss() {
  let largest = 0;
  for (const pid of fs.readdirSync('/proc').filter(p => /^\d+$/.test(p))) {
    try {
      const cmd = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      if (!cmd.includes('chromium') || !cmd.includes('--type=renderer')) continue;
      const m = /VmRSS:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
      if (m) largest = Math.max(largest, Number(m[1]) * 1024);
    } catch (e) { /* gone */ }
  }
  return largest;
}

const cpu = (fs.readFileSync('/proc/cpuinfo', 'utf8').match(/model name\s*:\s*(.*)/) || [])[1];
console.log(`${cpu}, ${os.cpus().length} cores, load ${os.loadavg().map(x => x.toFixed(2)).join(' ')}; ` +
            `page: Chromium, ${workers} digest workers; vexorin-check --jobs ${workers}`);
for (const [name, dir] of args['memory-only'] ? [] : [['1 GiB in 1,000 files', large], ['20,000 files', small]]) {
  warm(dir);
  await pageSeconds(dir);  // a first round warms the browser's side too
  await floorSeconds(dir);
  const pageTimes = [];
  const nativeTimes = [];
  const floorTimes = [];
  steps.length = 0;
  for (let i = 0; i < rounds; ++i) {
    nativeTimes.push(nativeSeconds(dir));
    pageTimes.push(await pageSeconds(dir));
    floorTimes.push(await floorSeconds(dir));
  }
  const p = median(pageTimes);
  const n = median(nativeTimes);
  const f = median(floorTimes);
  const list = (v) => v.map(x => x.toFixed(3)).join(', ');
  console.log(`${name} (load ${os.loadavg()[0].toFixed(2)}): page ${p.toFixed(3)} s (rounds ${list(pageTimes)}; ` +
              `list ready at ${median(steps.map(x => x[0])).toFixed(3)} s, digested at ${median(steps.map(x => x[1])).toFixed(3)} s), ` +
              `vexorin-check ${n.toFixed(3)} s (rounds ${list(nativeTimes)}): ${(p / n).toFixed(2)} ×; ` +
              `reading alone in the browser ${f.toFixed(3)} s (rounds ${list(floorTimes)}): ${(f / n).toFixed(2)} × native, ` +
              `the page ${(p / f).toFixed(2)} × that`);
}

// A fresh tab, so that nothing of the rounds above is counted.
await floorPage.close();
await page.close();
page = await browser.newPage();
await page.goto(pageUrl);
warm(many);
const before = rendererRss();
let peak = before;
const sampler = setInterval(() => { peak = Math.max(peak, rendererRss()); }, 50);
const seconds = await pageSeconds(many);
clearInterval(sampler);
peak = Math.max(peak, rendererRss());
console.log(`100,000 files: page ${seconds.toFixed(3)} s; the tab's resident memory ${(before / 1048576).toFixed(1)} MiB ` +
            `before, peak ${(peak / 1048576).toFixed(1)} MiB`);
await browser.close();
if (!args.keep) fs.rmSync(args.work, {recursive: true, force: true});
