// The web page against the native vexorin-check, side by side in one run in headless Chromium:
// the benchmark's tree of 1 GiB in 1,000 files and its tree of 20,000 files (page cache warm),
// the page's time from the folder handed over to the result against vexorin-check's wall time
// with as many jobs as the page has digest workers, and against reading alone (the same files
// only read, each on its own, in workers); and the tab's peak memory (resident set of the page's
// renderer process, its workers included) over 100,000 files.
// --against PAGE: another build of the page (an older one, say) timed in a tab of its own in the
// same browser, round by round in turn with the page, and its memory over the 100,000 files too.
// --zip: the two trees zipped by Debian's zip (deflated, -6, and stored, -0), the page's time
// over each zip against its time over the same folder, round by round in turn, and the tab's
// peak memory over the 1 GiB zip.
//
// usage: node bench/web_bench.mjs [--build build/linux] [--work DIR] [--rounds 3] [--keep]
//                                 [--memory-only | --zip] [--page HTML] [--against HTML]
// Needs what tests/web needs (tools/install-deps.sh): Chromium and playwright-core; --zip needs zip.
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
  args[key] = ['keep', 'memory-only', 'zip'].includes(key) ? true : process.argv[++i];
}
const rounds = Number(args.rounds);
const check = path.join(args.build, 'cli/vexorin-check');
const build = path.join(args.build, 'cli/vexorin-build');
const pageUrl = pathToFileURL(path.resolve(args.page || path.join(args.build, 'web/vexorin-check.html'))).href;
const againstUrl = args.against ? pathToFileURL(path.resolve(args.against)).href : null;

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
if (!args.zip) gen(many, 100000, 0, 256, 3);

const browser = await chromium.launch({executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update', '--no-first-run']});
async function openPage(url) {
  const tab = await browser.newPage();
  await tab.goto(url);
  return tab;
}
let page = await openPage(pageUrl);
let against = againstUrl ? await openPage(againstUrl) : null;
const workers = await page.evaluate(() => Math.max(1, Math.min(navigator.hardwareConcurrency || 2, 8)));

// The page's time from the folder (or with `zip`, the zip) handed over to the result, and when
// its steps ended: the check's list of files ready, every file digested (seconds from the start).
async function pageSeconds(tab, source, steps = [], zip = false) {
  await tab.evaluate(() => { document.body.dataset.phase = 'idle'; });
  await tab.setInputFiles(zip ? '#zipFile' : '#folder', source, {timeout: 0});
  await tab.waitForFunction(() => ['done', 'message'].includes(document.body.dataset.phase), null, {timeout: 1800000});
  const r = await tab.evaluate(() => {
    const s = window.vexorinPage;
    return [s.seconds, s.result && s.result.outcome, (s.listedAt - s.startedAt) / 1000, (s.digestedAt - s.startedAt) / 1000];
  });
  if (r[1] !== 'intact') throw new Error(`${source}: the page says ${r[1]}`);
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

// The tab's peak resident set while `run` runs, in a fresh tab of `url` with no other tab open,
// so that nothing of the rounds before is counted: [before, peak, run's result].
async function peakMemory(url, run) {
  for (const tab of browser.contexts().flatMap(c => c.pages())) await tab.close();
  const tab = await openPage(url);
  const before = rendererRss();
  let peak = before;
  const sampler = setInterval(() => { peak = Math.max(peak, rendererRss()); }, 50);
  const result = await run(tab);
  clearInterval(sampler);
  peak = Math.max(peak, rendererRss());
  await tab.close();
  return [before, peak, result];
}
const mib = (n) => (n / 1048576).toFixed(1);
const list = (v) => v.map(x => x.toFixed(3)).join(', ');
// The median of the per-round ratios a[i] / b[i].
const ratio = (a, b) => median(a.map((x, i) => x / b[i]));

const cpu = (fs.readFileSync('/proc/cpuinfo', 'utf8').match(/model name\s*:\s*(.*)/) || [])[1];
console.log(`${cpu}, ${os.cpus().length} cores, load ${os.loadavg().map(x => x.toFixed(2)).join(' ')}; ` +
            `page: Chromium, ${workers} digest workers; vexorin-check --jobs ${workers}` +
            (againstUrl ? `; against ${args.against}` : ''));
const trees = [['1 GiB in 1,000 files', large], ['20,000 files', small]];

if (args.zip) {
  // Each tree zipped as a recipient downloads it: its folder at the top of the zip.
  const zips = (dir) => [['deflated', '-6'], ['stored', '-0']].map(([how, level]) => {
    const zip = `${dir}-${how}.zip`;
    if (!fs.existsSync(zip)) execFileSync('zip', ['-qr' + level.slice(1), zip, path.basename(dir)], {cwd: args.work});
    return [how, zip];
  });
  for (const [name, dir] of trees) {
    const made = zips(dir);
    warm(dir);
    for (const [, zip] of made) execFileSync('cat', [zip], {stdio: ['ignore', 'ignore', 'inherit']});
    await pageSeconds(page, dir);  // a first round warms the browser's side too
    for (const [, zip] of made) await pageSeconds(page, zip, [], true);
    const folderTimes = [];
    const zipTimes = made.map(() => []);
    const zipSteps = made.map(() => []);
    for (let i = 0; i < rounds; ++i) {
      folderTimes.push(await pageSeconds(page, dir));
      for (const [k, [, zip]] of made.entries()) zipTimes[k].push(await pageSeconds(page, zip, zipSteps[k], true));
    }
    const lines = made.map(([how, zip], k) =>
      `zip ${how} (${mib(fs.statSync(zip).size)} MiB) ${median(zipTimes[k]).toFixed(3)} s (rounds ${list(zipTimes[k])}; ` +
      `list ready at ${median(zipSteps[k].map(x => x[0])).toFixed(3)} s): ${ratio(zipTimes[k], folderTimes).toFixed(2)} × the folder`);
    console.log(`${name} (load ${os.loadavg()[0].toFixed(2)}): folder ${median(folderTimes).toFixed(3)} s (rounds ${list(folderTimes)}); ` +
                lines.join('; '));
  }
  const zip = `${large}-deflated.zip`;
  const [before, peak, seconds] = await peakMemory(pageUrl, (tab) => pageSeconds(tab, zip, [], true));
  console.log(`1 GiB zip, deflated: page ${seconds.toFixed(3)} s; the tab's resident memory ${mib(before)} MiB ` +
              `before, peak ${mib(peak)} MiB, growth ${mib(peak - before)} MiB`);
} else {
  for (const [name, dir] of args['memory-only'] ? [] : trees) {
    warm(dir);
    await pageSeconds(page, dir);  // a first round warms the browser's side too
    if (against) await pageSeconds(against, dir);
    await floorSeconds(dir);
    const pageTimes = [];
    const againstTimes = [];
    const nativeTimes = [];
    const floorTimes = [];
    const steps = [];
    for (let i = 0; i < rounds; ++i) {
      nativeTimes.push(nativeSeconds(dir));
      pageTimes.push(await pageSeconds(page, dir, steps));
      if (against) againstTimes.push(await pageSeconds(against, dir));
      floorTimes.push(await floorSeconds(dir));
    }
    const p = median(pageTimes);
    const n = median(nativeTimes);
    const f = median(floorTimes);
    console.log(`${name} (load ${os.loadavg()[0].toFixed(2)}): page ${p.toFixed(3)} s (rounds ${list(pageTimes)}; ` +
                `list ready at ${median(steps.map(x => x[0])).toFixed(3)} s, digested at ${median(steps.map(x => x[1])).toFixed(3)} s), ` +
                `vexorin-check ${n.toFixed(3)} s (rounds ${list(nativeTimes)}): ${(p / n).toFixed(2)} ×; ` +
                `reading alone in the browser ${f.toFixed(3)} s (rounds ${list(floorTimes)}): ${(f / n).toFixed(2)} × native, ` +
                `the page ${(p / f).toFixed(2)} × that` +
                (against ? `; against: ${median(againstTimes).toFixed(3)} s (rounds ${list(againstTimes)}), ` +
                           `the page ${ratio(pageTimes, againstTimes).toFixed(2)} × that` : ''));
  }
  warm(many);
  for (const [label, url] of [['page', pageUrl], ...(againstUrl ? [['against', againstUrl]] : [])]) {
    const [before, peak, seconds] = await peakMemory(url, (tab) => pageSeconds(tab, many));
    console.log(`100,000 files, ${label}: ${seconds.toFixed(3)} s; the tab's resident memory ${mib(before)} MiB ` +
                `before, peak ${mib(peak)} MiB, growth ${mib(peak - before)} MiB`);
  }
}
await browser.close();
if (!args.keep) fs.rmSync(args.work, {recursive: true, force: true});
