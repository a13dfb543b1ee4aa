// The web page against the native vexorin-check, side by side in one run in headless Chromium:
// the benchmark's tree of 1 GiB in 1,000 files and its tree of 20,000 files (page cache warm),
// the page's time from the folder handed over to the result against vexorin-check's wall time
// with as many jobs as the page has digest workers; and the tab's peak memory (resident set of
// the page's renderer process, its workers included) over 100,000 files.
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

async function pageSeconds(dir) {
  await page.evaluate(() => { document.body.dataset.phase = 'idle'; });
  await page.setInputFiles('#folder', dir, {timeout: 0});
  await page.waitForFunction(() => ['done', 'message'].includes(document.body.dataset.phase), null, {timeout: 1800000});
  const r = await page.evaluate(() => [window.vexorinPage.seconds, window.vexorinPage.result && window.vexorinPage.result.outcome]);
  if (r[1] !== 'intact') throw new Error(`${dir}: the page says ${r[1]}`);
  return r[0];
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
  const pageTimes = [];
  const nativeTimes = [];
  for (let i = 0; i < rounds; ++i) {
    nativeTimes.push(nativeSeconds(dir));
    pageTimes.push(await pageSeconds(dir));
  }
  const p = median(pageTimes);
  const n = median(nativeTimes);
  console.log(`${name}: page ${p.toFixed(3)} s (rounds ${pageTimes.map(x => x.toFixed(3)).join(', ')}), ` +
              `vexorin-check ${n.toFixed(3)} s (rounds ${nativeTimes.map(x => x.toFixed(3)).join(', ')}): ` +
              `${(p / n).toFixed(2)} ×`);
}

// A fresh tab, so that nothing of the rounds above is counted.
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
