// The web page vexorin-check.html in a real headless Chromium (Debian's, driven by
// playwright-core): folders built by the real vexorin-build, chosen with the page's folder
// button or dropped, checked by the page, and its results compared with the native
// vexorin-check's over the same folders.
//
// usage: node test_page.mjs --page HTML --build VEXORIN_BUILD --check VEXORIN_CHECK
//                           --corpus FUZZ_CORPUS_DIR [--chromium CHROMIUM] [--source SOURCE_DIR]
//                           [--screenshots DIR]
import {spawnSync} from 'node:child_process';
import path from 'node:path';
import {pathToFileURL} from 'node:url';
import {createRequire} from 'node:module';
import fs from 'node:fs';
import {
  parseArgs, CHUNK, CUSTOM, DEFAULT_1, DEFAULT_2, EDGE_SIZES, INTACT, LOAD_FAILED, TREE, check, same, finish,
  Trees, pageReport, servePage, logViolationsInPage, phaseEndedInPage, shownInPage, dropItems, dropInPage,
  skip, pickerInPage, opfsPickerInPage, countReadsInPage, checkerTail, dropFileInPage,
} from './page_support.mjs';

const require = createRequire(import.meta.url);
const {chromium} = require('playwright-core');

const args = parseArgs(['page', 'build', 'check', 'corpus']);
const trees = new Trees(args);
const run = (tool, toolArgs, cwd) => trees.run(tool, toolArgs, cwd);
const makeTree = (files, options) => trees.make(files, options);
const copyTree = (root) => trees.copy(root);
const nativeReport = (root, checker = null) => trees.nativeReport(root, checker);
const nativeAll = (root) => trees.nativeAll(root);

const browser = await chromium.launch({
  executablePath: args.chromium || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update',
         '--disable-default-apps', '--disable-sync', '--no-first-run', '--disable-domain-reliability'],
});

// A page in a context of its own with `locale`; every request after the page has loaded and
// every Content-Security-Policy violation is logged.
// `before`: a function run in the page (with `beforeArg`) before its own script.
async function openPage(url, locale = 'ja-JP', before = null, beforeArg = undefined) {
  const context = await browser.newContext({locale});
  const page = await context.newPage();
  const log = {loaded: false, requests: [], violations: [], errors: []};
  context.on('request', (request) => { if (log.loaded) log.requests.push(request.url()); });
  page.on('pageerror', (error) => log.errors.push(String(error)));
  await page.addInitScript(logViolationsInPage);
  if (before) await page.addInitScript(before, beforeArg);
  await page.goto(url);
  await page.waitForFunction(() => window.vexorinPage !== undefined);
  log.loaded = true;
  return {page, context, log};
}

// What the page shows once it has come to an end with the folder: chosen with the folder
// button, or dropped (synthetically, when `drop` is set).
// Or with the folder button where the directory picker answers (`picker`: the function that
// puts the test's own answer in its place); null when the page does not come to an end.
async function checkFolder(page, dir, {drop = false, picker = null} = {}) {
  await page.evaluate(() => { document.body.dataset.phase = 'idle'; });
  if (drop) {
    await dropFolder(page, dir);
  } else if (picker) {
    await page.evaluate(picker, dropItems(dir));
    await page.click('label.pick');
    try {
      await page.waitForFunction(phaseEndedInPage, null, {timeout: 30000});
    } catch (e) {
      return null;
    }
    return page.evaluate(shownInPage);
  } else {
    await page.setInputFiles('#folder', dir);
  }
  await page.waitForFunction(phaseEndedInPage, null, {timeout: 600000});
  return page.evaluate(shownInPage);
}

// The folder as the directory picker hands it over: real handles of the origin-private file
// system from http://127.0.0.1, handles of the test's own from file://.
async function pickFolder(page, dir) {
  const opfs = page.url().startsWith('http:');
  const shown = await checkFolder(page, dir, {picker: opfs ? opfsPickerInPage : pickerInPage});
  check(shown !== null && await page.evaluate(() => window.__pickerCalls) === 1,
        `${opfs ? 'http' : 'file://'}: the folder button asks the directory picker, and the check ends`);
  return shown || {phase: 'none', text: '', problems: [], summary: '', note: '', json: null};
}

// The summary line of a Japanese page, with the counts of the report `json`.
const jaSummary = (json) => `${json.foldersChecked} 個のフォルダと ${json.filesChecked} 個のファイルを検査し、${json.problemCount} 件の問題が見つかりました`;
const jaEscaping = (path) => `チェックデータに保存されたパス ${path} はチェッカーのフォルダの外を指しています。このチェックデータは信用できないため、何も検査していません。`;

// A drop of `dir` as Chromium hands one to the page: a DataTransfer item whose entry is a
// directory, read through readEntries in batches of at most 100 entries, then nothing.
async function dropFolder(page, dir) {
  await page.evaluate(dropInPage, dropItems(dir));
}

const pageUrl = pathToFileURL(path.resolve(args.page)).href;
const shots = args.screenshots;

let garbled = null;  // a folder whose names zipfile garbled, made below and checked again in English

// --- From file://, Japanese: the checker's texts, every problem, the JSON report. ---
{
  const {page, context, log} = await openPage(pageUrl);
  check(await page.locator('h1').textContent() === 'Vexorin フォルダ検査', 'the page speaks Japanese for ja-JP');

  const intact = makeTree(TREE);
  let shown = await checkFolder(page, intact);
  same([shown.phase, shown.text, shown.problems], ['done', INTACT, []], 'intact folder');
  same(pageReport(shown), nativeReport(intact), 'intact: the report is the native one');
  if (shots) await page.screenshot({path: path.join(shots, 'web-intact.png'), fullPage: true});

  const defaults = `${DEFAULT_1}\n${DEFAULT_2}`;
  let tree = copyTree(intact);
  fs.rmSync(path.join(tree, 'ソフト/深い'), {recursive: true});
  shown = await checkFolder(page, tree);
  same(shown.text, `フォルダ pack/ソフト/深い/ が見つかりません.\n${defaults}`, 'missing folder, default message');
  same(shown.note, '', 'a missing folder with listed files below it is missing, with no word of unseen folders');
  same(pageReport(shown), nativeReport(tree), 'missing folder: the report is the native one');

  const custom = makeTree(TREE, {messages: CUSTOM});
  tree = copyTree(custom);
  fs.rmSync(path.join(tree, '表.txt'));
  shown = await checkFolder(page, tree);
  same(shown.text, 'ファイル 表.txt が見つかりません.\nファイルがない', 'missing file, own message');
  tree = copyTree(custom);
  fs.writeFileSync(path.join(tree, 'ソフト/readme.txt'), 'SOFT');
  shown = await checkFolder(page, tree);
  same(shown.text, 'ファイル ソフト\\readme.txt が壊れています.\n壊れている', 'damaged file, own message');
  tree = copyTree(intact);
  fs.writeFileSync(path.join(tree, 'z.txt'), 'zzZ');
  shown = await checkFolder(page, tree);
  same(shown.text, `ファイル z.txt が壊れています.\n${DEFAULT_1}`, 'damaged file, default message');

  // Every problem, one line each, as vexorin-check --all lists them.
  tree = copyTree(custom);
  fs.rmSync(path.join(tree, 'ソフト/深い'), {recursive: true});
  fs.rmSync(path.join(tree, '表.txt'));
  fs.writeFileSync(path.join(tree, 'z.txt'), 'zz');
  // What an older version left, beside what systems leave (not listed as unlisted).
  for (const [name, data] of [['old.dll', 'old'], ['旧版/a.txt', 'a'], ['ソフト/Thumbs.db', ''], ['._z.txt', ''],
                              ['__MACOSX/._x', ''], ['DESKTOP.INI', '']]) {
    fs.mkdirSync(path.dirname(path.join(tree, name)), {recursive: true});
    fs.writeFileSync(path.join(tree, name), data);
  }
  shown = await checkFolder(page, tree);
  // The checker's lines as vexorin-check --all gives them; the page's own summary in Japanese.
  const allLines = nativeAll(tree).split('\n').filter(line => !line.startsWith('not listed: '));
  same(shown.problems.join('\n') + '\n', allLines.slice(0, -2).join('\n') + '\n', 'every problem, the checker\'s lines of vexorin-check --all');
  same(shown.unlisted, ['old.dll は一覧にありません', '旧版/ は一覧にありません'], 'every problem: the stale file and folder, after the verdict');
  same(shown.problems.length, 4, 'every problem listed');
  same(pageReport(shown), nativeReport(tree), 'every problem: the report is the native one');
  same(shown.summary, jaSummary(shown.json), 'every problem: the summary in Japanese');
  if (shots) await page.screenshot({path: path.join(shots, 'web-problems.png'), fullPage: true});

  // Names that code page 932 cannot write, stored in UTF-8 after the messages: checked, and a
  // damaged one named whole, as vexorin-check does.
  const foreign = makeTree({...TREE, 'café.txt': Buffer.from('cafe'), '한글/\u{1F600}.txt': Buffer.from('emoji'),
                            'ver1.0\u301C2.0.txt': Buffer.from('wave')});
  shown = await checkFolder(page, foreign);
  same([shown.text, pageReport(shown).files], [INTACT, Object.keys(TREE).length + 3], 'UTF-8 names: intact');
  tree = copyTree(foreign);
  fs.writeFileSync(path.join(tree, '한글/\u{1F600}.txt'), 'EMOJI');
  shown = await checkFolder(page, tree);
  same(shown.text, `ファイル 한글\\\u{1F600}.txt が壊れています.\n${DEFAULT_1}`, 'UTF-8 names: the damaged one named');
  same(pageReport(shown), nativeReport(tree), 'UTF-8 names: the report is the native one');
  // A folder whose only file has a UTF-8 name holds a listed file: gone, it is missing even
  // through the folder input, which cannot show folders.
  tree = copyTree(foreign);
  fs.rmSync(path.join(tree, '한글'), {recursive: true});
  shown = await checkFolder(page, tree);
  same([pageReport(shown), shown.note], [nativeReport(tree), ''], 'UTF-8 names: a folder of UTF-8 names gone is missing through the input');

  // Names an unpacker garbled: the tree zipped with code-page-932 names, as Japanese archivers
  // write them, and unpacked by Python's zipfile (code page 437 in UTF-8). Every entry is found
  // and checked under its name on disk, the cause said once, as by vexorin-check; then a file
  // damaged under its garbled name is damaged, with the digest of what is on disk.
  const named = makeTree({'ソフト/表.txt': Buffer.from('hyou'), 'データ/セーブ/十字架.dat': Buffer.alloc(3000, 9),
                          'readme.txt': Buffer.from('ascii')});
  garbled = trees.garbled(named);
  shown = await checkFolder(page, garbled);
  const garbledReport = nativeReport(garbled);
  same(pageReport(shown), garbledReport, 'names garbled by zipfile: the report is the native one');
  same([garbledReport.problems.map(p => p.foundAs).join(), garbledReport.nameCauses.length],
       [Array(5).fill('cp437').join(), 1], 'names garbled by zipfile: all five found, one cause');
  // The page's own lines in Japanese: the cause said once, each entry, the summary.
  same([shown.problems.length, shown.problems[0].split('。原因: ')[0], shown.problems[1], shown.summary,
        shown.text.split('\n')[1]],
       [nativeAll(garbled).split('\n').length - 2, '5 個の項目が別の名前で存在します', 'フォルダ ソフト/ は â\\x5câtâg/ という名前で存在します。',
        `${jaSummary(shown.json)} (うち 5 件は別の名前で存在します)`, 'すべてのファイルの内容は正常です。違うのは名前だけです。'],
       'names garbled by zipfile: the page\'s own lines in Japanese');
  // The name on disk as the report gives it: a backslash, which is no separator here, as \x5c.
  const onDisk = path.join(garbled, garbledReport.problems.find(p => p.path.endsWith('.dat')).nameOnDisk.replaceAll('\\x5c', '\\'));
  check(fs.existsSync(onDisk), `the name on disk is there: ${onDisk}`);
  fs.writeFileSync(onDisk, Buffer.alloc(3000, 8));
  shown = await checkFolder(page, garbled);
  same(pageReport(shown), nativeReport(garbled), 'a damaged file under a garbled name: the report is the native one');
  same(shown.json.problems.filter(p => p.kind === 'damaged-file').map(p => p.actual),
       [spawnSync('md5sum', {input: fs.readFileSync(onDisk)}).stdout.toString().split(' ')[0]],
       'a damaged file under a garbled name: the digest of what is on disk');

  // The digests of the WebAssembly builds (SIMD lanes, and scalar) over the edge sizes.
  const edge = {};
  EDGE_SIZES.forEach((size, i) => { edge[`e/${i}.bin`] = Buffer.alloc(size).map((_, k) => (k * 31 + i) & 255); });
  const edgeTree = makeTree(edge);
  const damaged = copyTree(edgeTree);
  for (const i of [3, 9, 13]) {
    const file = path.join(damaged, `e/${i}.bin`);
    const bytes = fs.readFileSync(file);
    bytes[bytes.length - 1] ^= 1;
    fs.writeFileSync(file, bytes);
  }
  fs.truncateSync(path.join(damaged, 'e/14.bin'), CHUNK);
  // Through the digest workers and through the check worker alone, each with the lane digest
  // of the SIMD build and with the scalar build.
  for (const [query, simd] of [['', true], ['?lanes=0', false], ['?workers=0', true], ['?workers=0&lanes=0', false]]) {
    const edgePage = query ? (await openPage(pageUrl + query)).page : page;
    check(await edgePage.evaluate(() => window.vexorinPage.simd) === simd, `${query}: the ${simd ? 'SIMD' : 'scalar'} build runs`);
    shown = await checkFolder(edgePage, edgeTree);
    if (!query.includes('workers=0')) {
      same(await edgePage.evaluate(() => window.vexorinPage.kernel), simd ? 'wasm-simd128' : '', `${query}: the digest workers' kernel`);
    }
    same(shown.text, INTACT, `edge sizes (${query}): every digest is the native one`);
    shown = await checkFolder(edgePage, damaged);
    same(pageReport(shown), nativeReport(damaged), `edge sizes damaged (${query}): the report is the native one`);
  }

  // Hostile check data: every seed of the check data's fuzz target as the checker gives the
  // native report (refused when a stored path leaves the folder), and nothing hangs.
  for (const seed of fs.readdirSync(args.corpus).sort()) {
    const dir = trees.fresh();
    fs.writeFileSync(path.join(dir, 'a.txt'), 'a');
    fs.copyFileSync(path.join(args.corpus, seed), path.join(dir, 'Vexorin.exe'));
    // Dropped: the folders that the data lists and the folder is without are seen missing.
    shown = await checkFolder(page, dir, {drop: true});
    const native = nativeReport(dir);
    if (native.outcome === 'unusable') {
      same(shown.text, native.escapingPath === undefined ? native.error : jaEscaping(native.escapingPath),
           `seed ${seed}: the native refusal, in the page's language`);
    } else {
      same(pageReport(shown), native, `seed ${seed}: the report is the native one`);
    }
  }

  // Not a checker; no checker; the folder above; the folder below; two checkers.
  let dir = trees.fresh();
  fs.writeFileSync(path.join(dir, 'Vexorin.exe'), 'MZ not a checker at all');
  shown = await checkFolder(page, dir);
  same(shown.text, LOAD_FAILED, 'Vexorin.exe without check data: the load failure');
  fs.renameSync(path.join(dir, 'Vexorin.exe'), path.join(dir, 'game.exe'));
  shown = await checkFolder(page, dir);
  check(shown.phase === 'message' && shown.text.includes('チェッカーではありません') && shown.text.includes('game.exe'),
        `an .exe without check data is named as no checker: ${shown.text}`);
  shown = await checkFolder(page, path.dirname(intact));
  check(shown.phase === 'message' && shown.text.includes('チェッカーは選んだフォルダの中の次のフォルダにあります') &&
        shown.text.endsWith(path.basename(path.dirname(intact)) + '/pack'), `the folder above: told where the checker is: ${shown.text}`);
  shown = await checkFolder(page, path.join(intact, 'ソフト'));
  check(shown.phase === 'message' && shown.text.includes('一つ上の'), `the folder below: told to choose the one above: ${shown.text}`);
  const two = makeTree(TREE, {checker: 'a.exe'});
  fs.copyFileSync(path.join(two, 'a.exe'), path.join(two, 'b.exe'));
  shown = await checkFolder(page, two);
  same([shown.phase, shown.choices], ['choose', ['a.exe', 'b.exe']], 'two checkers: the page asks which');
  await page.click('#choices button:nth-child(2)');
  await page.waitForFunction(() => document.body.dataset.phase === 'done');
  same([await page.locator('#result').textContent(), await page.evaluate(() => window.vexorinPage.checker)],
       [INTACT, 'b.exe'], 'two checkers: the one chosen checks');

  // Files that cannot be read once chosen: one removed (missing, as for vexorin-check), one
  // changed (its reading fails) and, where the permissions hold (not for root), one that
  // nobody may read. The check is started after the choice, through the two checkers' question.
  shown = await checkFolder(page, two);
  fs.rmSync(path.join(two, 'z.txt'));
  fs.writeFileSync(path.join(two, 'ソフト/readme.txt'), 'soft, changed');
  const locked = process.getuid() !== 0;
  if (locked) fs.chmodSync(path.join(two, '表.txt'), 0);
  else skip('a file that nobody may read: file permissions do not hold for root');
  await page.click('#choices button:nth-child(1)');
  await page.waitForFunction(() => ['done', 'message'].includes(document.body.dataset.phase));
  shown = await page.evaluate(() => [document.body.dataset.phase, window.vexorinPage.result.json.problems.map(p => `${p.kind} ${p.path}`).sort()]);
  same(shown, ['done', ['missing-file z.txt', 'read-error ソフト/readme.txt', ...(locked ? ['read-error 表.txt'] : [])]],
       'a file removed, changed or locked after the choice: said so, no hang');

  // Drop: empty folders are seen; through the folder button they are not.
  const withEmpty = makeTree(TREE, {emptyFolders: ['ソフト/空フォルダ']});
  shown = await checkFolder(page, withEmpty, {drop: true});
  same([shown.phase, shown.text, shown.note], ['done', INTACT, ''], 'a dropped folder with an empty folder is intact');
  // Through the folder input the empty folder is unseen: not called missing, and said apart;
  // the same where it is really gone, which the input cannot tell (a drop can).
  const unseenNote = 'フォルダを選ぶボタンでは空のフォルダが見えないため、チェックデータにある次の空のフォルダは確かめられませんでした (ファイルはすべて検査しました): pack/ソフト/空フォルダ/。フォルダをこのページにドロップすると、これらのフォルダも検査します。';
  shown = await checkFolder(page, withEmpty);
  same([shown.phase, shown.text, shown.json.outcome, shown.note], ['done', INTACT, 'intact', unseenNote],
       'chosen with the input, an empty folder is not called missing, and the page says it was unseen');
  const emptyGone = copyTree(withEmpty);
  fs.rmdirSync(path.join(emptyGone, 'ソフト/空フォルダ'));
  shown = await checkFolder(page, emptyGone);
  same([shown.text, shown.note], [INTACT, unseenNote], 'chosen with the input, an empty folder gone is unseen too');
  shown = await checkFolder(page, emptyGone, {drop: true});
  same(pageReport(shown), nativeReport(emptyGone), 'dropped, an empty folder gone is missing');
  // The directory picker lists empty folders: the check is exact.
  shown = await pickFolder(page, withEmpty);
  same([shown.phase, shown.text, shown.note], ['done', INTACT, ''], 'file://: picked, a folder with an empty folder is intact');
  shown = await pickFolder(page, emptyGone);
  same(shown.json && pageReport(shown), nativeReport(emptyGone), 'file://: picked, an empty folder gone is missing');

  // Paths of 300 to 1,000 bytes are checked, as vexorin-check checks them.
  const deep = {[`${'a'.repeat(200)}/${'b'.repeat(95)}.txt`]: Buffer.from('300'),
                [`${'c'.repeat(200)}/${'d'.repeat(200)}/${'e'.repeat(200)}/${'f'.repeat(200)}/${'g'.repeat(192)}.txt`]: Buffer.from('1000'),
                [`${'深'.repeat(80)}/${'い'.repeat(80)}/${'道'.repeat(80)}/データ.bin`]: Buffer.alloc(5000, 3)};
  same(Object.keys(deep).map(p => Buffer.byteLength(p)), [300, 1000, 736], 'the long paths are as long as meant');
  const deepTree = makeTree(deep);
  shown = await checkFolder(page, deepTree);
  same([shown.text, pageReport(shown)], [INTACT, nativeReport(deepTree)], 'paths of 300 to 1,000 bytes are checked');
  const deepDamaged = copyTree(deepTree);
  fs.writeFileSync(path.join(deepDamaged, Object.keys(deep)[1]), '1001');
  shown = await checkFolder(page, deepDamaged);
  same(pageReport(shown), nativeReport(deepDamaged), 'a path of 1,000 bytes damaged: the report is the native one');
  // More than 100 entries in one folder: readEntries must be called until it hands out nothing.
  const many = {};
  for (let i = 0; i < 250; ++i) many[`many/${i}.txt`] = Buffer.from(String(i));
  const manyTree = makeTree(many);
  shown = await checkFolder(page, manyTree, {drop: true});
  same([shown.text, shown.json.filesChecked], [INTACT, 250], 'a dropped folder of 250 files is read whole');

  same(log.requests.filter(u => !u.startsWith('blob:')), [], 'file://: no request after load');
  same(await page.evaluate(() => window.__violations), [], 'file://: no Content-Security-Policy violation');
  same(log.errors, [], 'file://: no script error');
  await context.close();
}

// --- From a static server on 127.0.0.1, English browser; stopping a check at work. ---
{
  const server = await servePage(args.page);
  const url = server.url;
  const {page, context, log} = await openPage(url, 'en-US');
  check(await page.locator('h1').textContent() === 'Vexorin folder check', 'the page speaks English for en-US');
  const intact = makeTree(TREE, {messages: CUSTOM});
  let shown = await checkFolder(page, intact);
  same(shown.text, INTACT, 'http: intact folder');
  const tree = copyTree(intact);
  fs.writeFileSync(path.join(tree, 'ソフト/深い/data.bin'), 'short');
  shown = await checkFolder(page, tree);
  same(shown.text, 'ファイル ソフト\\深い\\data.bin が壊れています.\n壊れている', 'http: damaged file, the distributor\'s own message');
  same(pageReport(shown), nativeReport(tree), 'http: the report is the native one');
  await context.grantPermissions(['clipboard-read', 'clipboard-write'], {origin: new URL(url).origin});
  await page.click('#copy');
  await page.waitForFunction(() => document.getElementById('copied').textContent !== '');
  same(await page.evaluate(() => navigator.clipboard.readText()),
       `${shown.text}\n${nativeAll(tree)}`, 'copy result: the result and every problem as text');

  // The page's own lines in English on an English page: vexorin-check's, but for its pointer to
  // --all: the page lists every entry below.
  shown = await checkFolder(page, garbled);
  same([shown.text, ...shown.problems, shown.summary].join('\n') + '\n',
       trees.run(args.check, [], garbled).stdout.toString().replace('vexorin-check --all names every such entry and its name on disk.\n', '') +
       nativeAll(garbled), 'en: names garbled by zipfile: the lines of vexorin-check');
  const escaping = trees.fresh();
  fs.writeFileSync(path.join(escaping, 'a.txt'), 'a');
  fs.copyFileSync(path.join(args.corpus, 'escaping_file'), path.join(escaping, 'Vexorin.exe'));
  shown = await checkFolder(page, escaping);
  same(shown.text, nativeReport(escaping).error, 'en: a stored path that leaves the folder: vexorin-check\'s refusal');

  // The directory picker, answered by real handles of the origin-private file system.
  const withEmpty = makeTree(TREE, {emptyFolders: ['ソフト/空フォルダ']});
  shown = await pickFolder(page, withEmpty);
  same([shown.phase, shown.text, shown.note], ['done', INTACT, ''], 'http: picked, a folder with an empty folder is intact');
  const emptyGone = copyTree(withEmpty);
  fs.rmdirSync(path.join(emptyGone, 'ソフト/空フォルダ'));
  shown = await pickFolder(page, emptyGone);
  same(shown.json && pageReport(shown), nativeReport(emptyGone), 'http: picked, an empty folder gone is missing');
  same(shown.text, `フォルダ pack/ソフト/空フォルダ/ が見つかりません.\n${DEFAULT_1}\n${DEFAULT_2}`, 'http: picked, the missing empty folder in the checker\'s words');

  // A file above 4 GiB (sparse) is read whole and right; the check at work can be stopped.
  const big = trees.fresh('big');
  fs.writeFileSync(path.join(big, 'small.txt'), 'x');
  const fd = fs.openSync(path.join(big, 'huge.bin'), 'w');
  // VX_WEB_BIG makes it smaller, for a quick run: then the case above 4 GiB is counted skipped.
  const bigSize = Number(process.env.VX_WEB_BIG || 4 * 1024 ** 3 + 5) + 3;
  if (bigSize <= 4 * 1024 ** 3) skip(`a file above 4 GiB: VX_WEB_BIG makes it ${bigSize} bytes`);
  fs.writeSync(fd, Buffer.from('end'), 0, 3, bigSize - 3);
  fs.closeSync(fd);
  if (run(args.build, ['--yes', big]).status !== 0) throw new Error('vexorin-build of the big folder');
  shown = await checkFolder(page, big);
  same([shown.text, shown.json.problemCount], [INTACT, 0], `a file of ${bigSize} bytes is checked right`);
  await page.setInputFiles('#folder', big);
  await page.waitForFunction(() => /MB\/s/.test(document.getElementById('counts').textContent));
  if (shots) {
    const ja = await openPage(pageUrl);
    await ja.page.setInputFiles('#folder', big);
    await ja.page.waitForFunction(() => document.getElementById('bar').value > 0.25);
    await ja.page.screenshot({path: path.join(shots, 'web-working.png'), fullPage: true});
    await ja.context.close();
  }
  await page.click('#stop');
  await page.waitForFunction(() => document.body.dataset.phase === 'message');
  same(await page.locator('#result').textContent(), 'Stopped.', 'the stop button stops the check');
  same(log.requests.filter(u => !u.startsWith('blob:')), [], 'http: no request after load');
  same(await page.evaluate(() => window.__violations), [], 'http: no Content-Security-Policy violation');
  await context.close();
  server.close();
}

// --- A downloaded zip, before it is unpacked: vexorin-check's own zips (each zipper's, stored and
// deflated, then damaged, cut short, missing an entry, encrypted, made from other files, a name
// twice, offsets past 4 GiB), chosen with the zip button or dropped, each report the native
// one's. ---
{
  const {page, context, log} = await openPage(pageUrl);
  const zips = trees.zips();
  const checkZip = async (zip, drop = false) => {
    await page.evaluate(() => { document.body.dataset.phase = 'idle'; });
    if (drop) {
      const item = {top: path.basename(zip), file: fs.readFileSync(zip).toString('base64')};
      await page.evaluate(dropFileInPage, item);
    } else {
      await page.setInputFiles('#zipFile', zip);
    }
    await page.waitForFunction(phaseEndedInPage, null, {timeout: 600000});
    return page.evaluate(shownInPage);
  };
  for (const [name, zip] of Object.entries(zips)) {
    const shown = await checkZip(zip);
    same(pageReport(shown), trees.nativeZipReport(zip), `zip ${name}: the report is the native one`);
    if (/^(windows|zip|7zz|bsdtar)-/.test(name)) same(shown.text, INTACT, `zip ${name}: intact`);
  }
  let shown = await checkZip(zips.damaged, true);
  same([shown.text, shown.zipNotes], [`ファイル ソフト\\大.bin が壊れています.\n${DEFAULT_1}`, []], 'zip dropped, one entry damaged: named, the download to be made again');
  shown = await checkZip(zips.cut);
  same([shown.text, shown.problems], ['この zip は途中で切れています。ダウンロードし直してください。', []], 'zip cut short: one line, not a list of missing files');
  shown = await checkZip(zips.encrypted);
  same([shown.text, shown.zipNotes], [INTACT, ['ファイル 表.txt は暗号化されているか、格納・deflate 以外の方法で圧縮されているため、解凍しないと検査できません。']],
       'zip with an encrypted entry: the others checked, that one said apart');
  shown = await checkZip(zips.twice);
  same(shown.zipNotes, ['ファイル ソフト/readme.txt: zip そのものは壊れていません (CRC-32 が一致します)。ダウンロードし直しても直りません。zip がチェッカーの一覧と違うファイルから作られています。',
                        'zip に Game/ソフト/readme.txt が複数あります。解凍ソフトが残す最後のものを検査しました。'],
       'zip with a name twice, the later one other than listed: said apart, the zip whole');
  same(shown.unlisted, ['old.txt は一覧にありません'], 'zip: an entry the check data does not list');
  same([log.errors, log.requests.filter(u => !u.startsWith('blob:'))], [[], []], 'zips: no error, no request');
  await context.close();
}

// --- The page's memory: the bytes it holds for reading within one budget for the whole page,
// however many digest workers run (as on an 8-core phone); the check data read once, only the
// checker's tail; check data too large for a tab refused. ---
{
  const files = {};
  for (let i = 0; i < 40; ++i) files[`m/${i}.bin`] = Buffer.alloc(5 << 20, i);
  const many = makeTree(files);
  const tail = checkerTail(path.join(many, 'Vexorin.exe'));
  for (const [memory, budget] of [[8, 64], [2, 24]]) {
    const {page, context} = await openPage(pageUrl, 'en-US', (gigabytes) => {
      Object.defineProperty(navigator, 'hardwareConcurrency', {get: () => 8});
      Object.defineProperty(navigator, 'deviceMemory', {get: () => gigabytes});
    }, memory);
    await page.evaluate(countReadsInPage);
    const shown = await checkFolder(page, many);
    const reads = await page.evaluate(() => window.__reads);
    same(shown.text, INTACT, `deviceMemory ${memory}: 200 MiB in 40 files, intact`);
    check(reads.peak <= budget << 20, `deviceMemory ${memory}: at most ${budget} MiB read and not yet digested, 8 workers: ${(reads.peak / 1048576).toFixed(1)} MiB`);
    same(reads.byName['Vexorin.exe'], 16 + tail, `deviceMemory ${memory}: the checker read once, only its tail (${tail} bytes) and its trailer`);
    await context.close();
  }
  // A checker whose trailer declares check data of 256 MiB and a byte (sparse): refused.
  const huge = trees.fresh();
  fs.writeFileSync(path.join(huge, 'a.txt'), 'a');
  const trailer = Buffer.alloc(16);
  trailer.write('VXR!', 0, 'latin1');
  trailer.writeUInt32LE((256 << 20) + 1, 4);
  const fd = fs.openSync(path.join(huge, 'Vexorin.exe'), 'w');
  fs.writeSync(fd, trailer, 0, 16, (256 << 20) + 4096);
  fs.closeSync(fd);
  const {page, context} = await openPage(pageUrl, 'en-US');
  await page.evaluate(countReadsInPage);
  const shown = await checkFolder(page, huge);
  same([shown.phase, shown.text], ['message', 'This checker\'s check data is larger than 256.0 MB (millions of files): more than this page can hold in a browser\'s memory, so nothing was checked. Run the checker (Vexorin.exe) itself to check the folder.'],
       'check data over 256 MiB: refused, said so');
  check((await page.evaluate(() => window.__reads.byName['Vexorin.exe'])) <= 16, 'check data over 256 MiB: not read');
  await context.close();
}

// --- A prerequisite of the web tests missing (here a Chromium that is not there): under CI=true
// the configure fails and names it; elsewhere it says so and leaves the test out. ---
if (args.source) {
  const build = path.join(trees.scratch, 'configure');
  const configure = (ci) => spawnSync('cmake', ['-S', args.source, '-B', build, '-G', 'Ninja', '-DVX_CHROMIUM=/nowhere/chromium'],
                                      {env: {...process.env, CI: ci}, timeout: 300000});
  let r = configure('true');
  check(r.status !== 0 && /web\.page is not run: it needs chromium \(\/nowhere\/chromium\)/.test(r.stderr.toString().replace(/\s+/g, ' ')),
        `CI=true: a missing chromium fails the configure, named: ${r.status} ${r.stderr.toString().slice(-400)}`);
  r = configure('');
  check(r.status === 0 && /web\.page is not run: it needs chromium/.test(r.stdout.toString().replace(/\s+/g, ' ')),
        `without CI: a missing chromium is said at configure: ${r.status}`);
} else {
  skip('a missing prerequisite under CI=true: --source was not given');
}

await browser.close();
trees.remove();
finish();
