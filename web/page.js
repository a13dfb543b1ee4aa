// The page: the recipient chooses or drops the unpacked folder, a worker runs the check (the
// C++ check compiled to WebAssembly), and this script shows its progress and its result.
'use strict';
(() => {
  const TEXTS = {
    ja: {
      title: 'Vexorin フォルダ検査',
      intro: 'ダウンロードして解凍したフォルダを選ぶか、このページにドロップしてください。フォルダの中のチェッカー (Vexorin.exe) と同じ検査をします。チェッカーを実行する必要はありません。ダウンロードした zip を解凍する前に検査することもできます。',
      private: 'ファイルはこのブラウザの中だけで読まれます。このページは何も送信しません (読み込み後の通信はすべて禁止されています)。',
      dropHere: 'ここに解凍したフォルダか、ダウンロードした zip をドロップ',
      pick: 'フォルダを選ぶ…',
      pickZip: 'zip を選ぶ…',
      working: '検査中…',
      stop: '中止',
      stopped: '中止しました。',
      copy: '結果をコピー',
      copied: 'コピーしました',
      allProblems: 'すべての問題',
      choose: 'チェックデータを持つ .exe が複数あります。どれで検査しますか？',
      files: 'ファイル',
      left: '残り約',
      seconds: '秒',
      none: 'このフォルダにはチェッカー (Vexorin.exe、またはチェックデータを持つ .exe) がありません。',
      noneBelow: '解凍したフォルダの中のフォルダを選んだ場合は、一つ上の、チェッカーのあるフォルダを選んでください。',
      notChecker: '次の .exe はチェッカーではありません (チェックデータがありません): ',
      elsewhere: 'チェッカーは選んだフォルダの中の次のフォルダにあります。そのフォルダを選んでください: ',
      droppedFiles: '解凍したフォルダそのものか、ダウンロードした zip を一つだけドロップしてください。',
      notZip: 'このファイルは zip ではありません。解凍したフォルダか、ダウンロードした zip を選んでください。',
      zipNone: 'この zip にはチェッカー (Vexorin.exe、またはチェックデータを持つ .exe) がありません。',
      zipIncomplete: 'この zip は途中で切れています。ダウンロードし直してください。',
      zipDamaged: 'この zip のディレクトリが壊れていて、zip として読めません。ダウンロードし直してください。',
      zipUncheckable: 'ファイル %1 は暗号化されているか、格納・deflate 以外の方法で圧縮されているため、解凍しないと検査できません。',
      zipWholeButDifferent: 'ファイル %1: zip そのものは壊れていません (CRC-32 が一致します)。ダウンロードし直しても直りません。zip がチェッカーの一覧と違うファイルから作られています。',
      zipDuplicate: 'zip に %1 が複数あります。解凍ソフトが残す最後のものを検査しました。',
      unseenEmpty: 'フォルダを選ぶボタンでは空のフォルダが見えないため、チェックデータにある次の空のフォルダは確かめられませんでした (ファイルはすべて検査しました): %s。フォルダをこのページにドロップすると、これらのフォルダも検査します。',
      failed: '検査できませんでした: ',
      checker: 'チェッカー',
      escaping: 'チェックデータに保存されたパス %s はチェッカーのフォルダの外を指しています。このチェックデータは信用できないため、何も検査していません。',
      tooMuchData: 'このチェッカーのチェックデータは %s を超えています (数百万のファイル)。ブラウザのメモリが足りなくなるため、このページでは検査できません。チェッカー (Vexorin.exe) を実行して検査してください。',
      summary: '%1 個のフォルダと %2 個のファイルを検査し、%3 件の問題が見つかりました',
      summaryNone: '%1 個のフォルダと %2 個のファイルを検査し、問題は見つかりませんでした',
      summaryRenamed: ' (うち %1 件は別の名前で存在します)',
      folderThere: 'フォルダ %1 は %2 という名前で存在します',
      fileThere: 'ファイル %1 は %2 という名前で存在します',
      thereIntact: '(内容は正常です)',
      thereDamaged: 'が、壊れています',
      thereUnread: 'が、読み込めませんでした',
      because: '。原因: %1',
      period: '。',
      causeLine: '%1 個の項目が別の名前で存在します。原因: %2。',
      onlyNames: 'すべてのファイルの内容は正常です。違うのは名前だけです。',
      unlistedTitle: 'チェックデータにないもの (検査の結果には影響しません)',
      unlisted: '%1 は一覧にありません',
      unlistedMore: 'ほかに %1 個の項目が一覧にありません',
      causes: {
        'cp932-bytes': '解凍ソフトが日本語 (コードページ 932) の名前をアーカイブの中のバイトのまま書き出し、このシステムはそれを日本語として読みません (7-Zip や bsdtar がそうします)。日本語の名前を変換する解凍ソフトで解凍し直す (bsdtar --options hdrcharset=CP932 -xf) か、名前を直してください',
        'cp437': '解凍ソフトが日本語 (コードページ 932) の名前をコードページ 437 として読み、UTF-8 で書き出しました (Python の zipfile がそうします)。日本語の名前を読める解凍ソフトで解凍し直す (Python: metadata_encoding="cp932"、bsdtar --options hdrcharset=CP932 -xf) か、名前を直してください',
        'cp437-latin1': '解凍ソフトが日本語 (コードページ 932) の名前をコードページ 437 として読み、Latin-1 で書き出したため、一部の文字が失われました (Debian の unzip がそうします)。日本語の名前を読める解凍ソフトで解凍し直す (bsdtar --options hdrcharset=CP932 -xf) か、名前を直してください',
        'cp850': '解凍ソフトが日本語 (コードページ 932) の名前を、西ヨーロッパの Windows のようにコードページ 850 として読みました。日本語の名前を読める解凍ソフトで (またはコードページ 932 を指定して) 解凍し直すか、名前を直してください',
        'cp1252': '解凍ソフトが日本語 (コードページ 932) の名前を、西ヨーロッパや南北アメリカの Windows のようにコードページ 1252 として読みました。日本語の名前を読める解凍ソフトで (またはコードページ 932 を指定して) 解凍し直すか、名前を直してください',
        'decomposed': '名前が分解された形 (文字と濁点などの記号が別々、macOS の形) で保存されています。見た目は同じでもバイトが違います。名前を合成された形のまま保つツールでフォルダをコピーし直すか、名前を直してください',
        'twin-character': '名前に、JIS と Windows のコードページ 932 とで変換の違う似た文字の組 (〜/～、—/―、‖/∥、−/－、¢/￠、£/￡、¬/￢) のもう一方が入っています。JIS に従うツールが変換しました。一覧にある名前に直してください',
        'letter-case': '名前が一覧にある名前と大文字・小文字だけ違います。Windows は区別しませんが、このシステムは区別します。一覧にある名前に直してください',
      },
    },
    en: {
      title: 'Vexorin folder check',
      intro: 'Choose the folder you downloaded and unpacked, or drop it on this page. It is checked as its checker (Vexorin.exe) checks it, without running the checker. The downloaded zip can be checked too, before you unpack it.',
      private: 'Your files are read inside this browser only. This page sends nothing anywhere (every connection after loading is forbidden).',
      dropHere: 'Drop the unpacked folder or the downloaded zip here',
      pick: 'Choose folder…',
      pickZip: 'Choose zip…',
      working: 'Checking…',
      stop: 'Stop',
      stopped: 'Stopped.',
      copy: 'Copy result',
      copied: 'Copied',
      allProblems: 'Every problem',
      choose: 'More than one .exe file carries check data. Which one should check the folder?',
      files: 'files',
      left: 'about',
      seconds: 's left',
      none: 'This folder holds no checker (Vexorin.exe, or an .exe file that carries check data).',
      noneBelow: 'If you chose a folder inside the unpacked one, choose the folder above it, the one that holds the checker.',
      notChecker: 'These .exe files are not checkers (they carry no check data): ',
      elsewhere: 'The checker is in this folder inside the one you chose; choose that folder: ',
      droppedFiles: 'Drop the unpacked folder itself, or the one zip you downloaded.',
      notZip: 'This file is not a zip. Choose the unpacked folder or the downloaded zip.',
      zipNone: 'This zip holds no checker (Vexorin.exe, or an .exe file that carries check data).',
      zipIncomplete: 'The zip is incomplete: download it again.',
      zipDamaged: 'The zip\'s directory is damaged: it cannot be read as a zip; download it again.',
      zipUncheckable: 'file %1 cannot be checked without unpacking: it is encrypted or compressed in a way other than stored or deflated',
      zipWholeButDifferent: 'file %1: the zip itself is whole (its CRC-32 holds), so downloading it again will not help: the zip was made from other files than the checker lists',
      zipDuplicate: 'the zip holds %1 more than once: the last one was checked, as an unpacker leaves it',
      unseenEmpty: 'The folder button shows no empty folders, so these empty folders of the check data could not be seen (every file was checked): %s. Drop the folder on this page to check them too.',
      failed: 'The check could not run: ',
      checker: 'Checker',
      escaping: 'the stored path %s leads out of the checker\'s folder: the check data is not trusted and nothing was checked',
      tooMuchData: 'This checker\'s check data is larger than %s (millions of files): more than this page can hold in a browser\'s memory, so nothing was checked. Run the checker (Vexorin.exe) itself to check the folder.',
      summary: '%1 folders and %2 files checked, %3 problems found',
      summaryNone: '%1 folders and %2 files checked, 0 problems found',
      summaryRenamed: ', %1 of them under other names',
      folderThere: 'folder %1 is there as %2',
      fileThere: 'file %1 is there as %2',
      thereIntact: ', its content intact',
      thereDamaged: ', but damaged',
      thereUnread: ', but could not be read',
      because: ': %1',
      period: '.',
      causeLine: '%1 listed entries are there under other names: %2.',
      onlyNames: 'Every listed file\'s content is intact; only names differ.',
      unlistedTitle: 'Not in the check data (information only: the result stands)',
      unlisted: '%1 is not listed',
      unlistedMore: '%1 more entries are not listed',
      // The check's own words (its report's nameCauses) are English already.
      causes: {},
    },
  };
  const lang = /^ja\b/i.test(navigator.language || '') ? 'ja' : 'en';
  const T = TEXTS[lang];
  document.documentElement.lang = lang;
  document.title = T.title;
  for (const el of document.querySelectorAll('[data-t]')) el.textContent = T[el.dataset.t];

  // A text of the table with its %1, %2 ... (or %s) filled in.
  const fill = (text, ...values) => text.replace(/%([1-9s])/g, (_, k) => String(values[k === 's' ? 0 : k - 1]));

  const $ = (id) => document.getElementById(id);
  const params = new URLSearchParams(location.search);
  // Which build runs: the SIMD one where the browser has WebAssembly SIMD ("lanes=0" asks for
  // the scalar build, to compare the two).
  const simdProbe = Uint8Array.from(atob('AGFzbQEAAAABBQFgAAF7AwIBAAoIAQYAQQD9Dws='), c => c.charCodeAt(0));
  const simd = params.get('lanes') !== '0' && WebAssembly.validate(simdProbe);
  const wasmBytes = Uint8Array.from(atob($(simd ? 'vx-wasm-simd' : 'vx-wasm-scalar').textContent.trim()), c => c.charCodeAt(0));
  const workerUrl = URL.createObjectURL(new Blob([$('vx-worker').textContent], {type: 'text/javascript'}));
  const digestUrl = URL.createObjectURL(new Blob([$('vx-digest-worker').textContent], {type: 'text/javascript'}));
  // Digest workers, one per core the browser reports, at most 8 ("workers=0": none, the check
  // worker reads every file itself, several at once in the SIMD lanes).
  let digestWorkers = params.get('workers') === '0' ? 0 : Math.max(1, Math.min(navigator.hardwareConcurrency || 2, 8));
  // Whether a worker can read the File objects the page hands it. WebKit (Safari) refuses it to
  // a page opened from file:// (NotReadableError): there the page reads the files itself and
  // hands the workers bytes, the .exe files whole and the others a piece at a time when asked,
  // through the digest workers (never the check worker alone).
  let workersRead = true;
  const probed = new Promise((resolve) => {
    const probeSource = 'onmessage = (e) => { try { new FileReaderSync().readAsArrayBuffer(e.data); postMessage(true); } catch (x) { postMessage(false); } };';
    const probe = new Worker(URL.createObjectURL(new Blob([probeSource], {type: 'text/javascript'})));
    probe.onmessage = (e) => {
      workersRead = state.workersRead = e.data;
      if (!workersRead) digestWorkers = Math.max(digestWorkers, 1);
      probe.terminate();
      resolve();
    };
    // A browser that cannot run the probe has the check fail in its own worker, with its words.
    probe.onerror = () => resolve();
    probe.postMessage(new File(['probe'], 'probe'));
  });

  let worker = null;
  let pool = [];      // the digest workers of the current check
  let job = null;     // what the current check was started with
  let begun = null;   // {files, bytes, at}
  let others = null;  // index -> File: the files the check has not asked for (yet)
  let addFiles = null;  // hands the digest workers more files the check wants
  const state = window.vexorinPage = {phase: 'idle', simd};

  function show(id, on) { $(id).hidden = !on; }
  function setPhase(phase) {
    state.phase = phase;
    document.body.dataset.phase = phase;
  }
  function message(text) {
    stopWorker();
    show('work', false);
    show('outcome', true);
    show('listTitle', false);
    $('result').textContent = text;
    $('result').className = 'bad';
    $('problems').textContent = '';
    $('summary').textContent = '';
    show('note', false);
    setPhase('message');
  }
  function stopWorker() {
    if (worker) worker.terminate();
    worker = null;
    for (const w of pool) w.terminate();
    pool = [];
  }

  // The bytes the page holds for reading at any one time, whatever the number of workers: read
  // and not yet digested. Less where the browser says the device has 2 GB of memory or less
  // (only Chromium's tell).
  const BUDGET = (navigator.deviceMemory && navigator.deviceMemory <= 2 ? 24 : 64) << 20;
  // Check data beyond this (millions of files) is refused: the check holds it several times
  // over, which would crash the tab.
  const DATA_MAX = 256 << 20;
  let held = 0;
  let waiting = [];  // {bytes, go} in the order asked
  // Resolves once `bytes` more fit in the budget (or nothing is held: a file larger than the
  // whole budget is still read, alone).
  function reserve(bytes) {
    return new Promise((go) => {
      waiting.push({bytes, go});
      admit();
    });
  }
  function admit() {
    while (waiting.length && (held === 0 || held + waiting[0].bytes <= BUDGET)) {
      const next = waiting.shift();
      held += next.bytes;
      next.go();
    }
  }
  function release(bytes) {
    held -= bytes;
    admit();
  }
  // A new check starts with the budget whole: what the stopped one held is let go with it.
  function resetBudget() {
    held = 0;
    waiting = [];
  }

  // Files up to this size are read by the page and handed to the digest workers as bytes;
  // larger ones a digest worker reads as a stream (or, where it cannot read a File, asks the
  // page for a piece at a time).
  const WHOLE = 8 << 20;
  // The most of a large file that a digest worker holds at a time (its PIECE).
  const PIECE = 1 << 20;
  // The bytes of `list` (Files of up to WHOLE bytes), one after another: read in one go as a
  // Blob made of them all, which costs the browser far less memory per file than a read of each
  // (and is faster); where that fails (a file removed or changed since it was chosen), each file
  // alone, to tell which (`errors`: the name of each file's error, or '').
  async function readTogether(list) {
    const lengths = list.map(file => file.size);
    try {
      const data = await new Blob(list).arrayBuffer();
      if (data.byteLength === lengths.reduce((a, b) => a + b, 0)) return {data, lengths, errors: null};
    } catch (e) { /* each file alone */ }
    const parts = [];
    const errors = [];
    for (const [k, file] of list.entries()) {
      try {
        parts.push(await file.arrayBuffer());
        errors.push('');
      } catch (e) {
        parts.push(new ArrayBuffer(0));
        errors.push(e.name || 'Error');
      }
      lengths[k] = parts[k].byteLength;
    }
    return {data: await new Blob(parts).arrayBuffer(), lengths, errors};
  }

  // The browser gives back the memory it keeps for a File read (and for the Blob it was read
  // through) only when the page's JavaScript heap is collected, and the few small objects a
  // file costs that heap hardly ever make it collect: over 100,000 small files that memory
  // rose and fell by some 60 MiB between collections. An ArrayBuffer of 64 MiB, never written
  // to, takes no memory but counts as that much outside the heap: made and let go once every
  // 4,096 files handed over, it has Chromium's engine collect.
  let sinceNudge = 0;
  function nudge(files) {
    sinceNudge += files;
    if (sinceNudge < 4096) return;
    sinceNudge = 0;
    try {
      new ArrayBuffer(64 << 20);
    } catch (e) { /* no room for it: nothing is lost */ }
  }

  // Digests the files the check wants (null: not handed over) in the digest workers, in batches
  // as each worker gets done, and hands each batch's digests to the check as they come, by the
  // files' indices in its list. Returns add(files), for files the check wants later (found under
  // other names), which come after those it wanted before.
  // Each File is let go once it is read (or handed to a worker to stream): the browser keeps
  // memory for every File read for as long as the File lives.
  // In a zip (`zip`, the File) each file is an entry's facts, which a digest worker reads.
  function digestAll(files, zip) {
    let next = 0;
    const read = [];
    let done = 0;
    const check = worker;
    // The bytes each batch holds, by its first file's index, until its digests come back.
    const inFlight = new Map();
    const workers = Math.max(1, Math.min(digestWorkers, files.length));
    const idle = [];   // the feeds of the digest workers that have nothing to do
    // Two batches a worker in flight, all within the budget.
    const batchBytes = Math.max(1, Math.min(16 << 20, Math.floor(BUDGET / (2 * workers))));
    for (let w = 0; w < workers; ++w) {
      const digester = new Worker(digestUrl);
      pool.push(digester);
      read.push(0);
      const feed = async () => {
        // Tasks: {index, file: null} not handed over; {index, length, error} bytes in `data`;
        // {index, file} a large file to stream; {index, size} one whose pieces the page reads.
        const tasks = [];
        const together = [];  // the Files read here, and their tasks in `readHere`
        const readHere = [];
        let size = 0;
        while (next < files.length && tasks.length < 64 && size < batchBytes) {
          const file = files[next];
          if (!file) {
            tasks.push({index: next, file: null});
          } else if (zip) {
            tasks.push({index: next, zip: file});
            files[next] = null;
            size += zipHolds(file);
            ++next;
            continue;
          } else if (file.size <= WHOLE) {
            const task = {index: next};
            tasks.push(task);
            readHere.push(task);
            together.push(file);
          } else {
            tasks.push(workersRead ? {index: next, file} : {index: next, size: file.size});
          }
          if (file && (file.size <= WHOLE || workersRead)) files[next] = null;
          size += file ? file.size : 0;
          ++next;
        }
        if (!tasks.length) {
          idle.push(feed);
          return;
        }
        nudge(tasks.length);
        // Its small files, and a piece of each large one (a digest worker reads one piece of a
        // file at a time): so the pieces are never left waiting for budget that batches hold.
        // A zip's entries: what reading them holds (zip_entry.js).
        const large = tasks.length - together.length - tasks.filter(task => task.file === null).length;
        const bytes = zip ? size : together.reduce((sum, file) => sum + file.size, 0) + large * PIECE;
        inFlight.set(tasks[0].index, bytes);
        await reserve(bytes);
        if (check !== worker) return;  // stopped meanwhile
        let got = {data: null, lengths: [], errors: null};
        if (together.length) {
          try {
            got = await readTogether(together);
          } catch (e) {
            message(T.failed + String(e && e.message || e));
            return;
          }
        }
        readHere.forEach((task, k) => {
          task.length = got.lengths[k];
          task.error = got.errors ? got.errors[k] : '';
        });
        digester.postMessage({tasks, data: got.data}, got.data ? [got.data] : []);
      };
      digester.onmessage = (e) => {
        const m = e.data;
        if (m.type === 'kernel') {
          state.kernel = m.name;
        } else if (m.type === 'read') {
          read[w] = m.bytes;
          showProgress({bytes: read.reduce((a, b) => a + b, 0), files: done});
        } else if (m.type === 'done') {
          if (m.indices.length && inFlight.has(m.indices[0])) {
            release(inFlight.get(m.indices[0]));
            inFlight.delete(m.indices[0]);
          }
          for (const index of m.indices) files[index] = null;
          done += m.indices.length;
          state.digestedAt = performance.now();  // the last batch's, for the benchmark
          // The digests as the digest worker made them: the check reads them.
          check.postMessage({take: {indices: m.indices, records: m.records}}, [m.indices.buffer, m.records]);
          feed();
        } else if (m.type === 'piece') {
          // Its error by name: a file removed since it was chosen is missing, not unreadable.
          // Within its batch's part of the budget.
          files[m.index].slice(m.pos, m.pos + m.size).arrayBuffer().then(
              (bytes) => digester.postMessage({piece: m.index, bytes}, [bytes]),
              (e) => digester.postMessage({piece: m.index, error: String(e), name: e && e.name}));
        } else if (m.type === 'zip-piece') {
          // Where the digest worker cannot read the zip itself.
          zip.slice(m.start, m.end).arrayBuffer().then(
              (bytes) => digester.postMessage({piece: m.id, bytes}, [bytes]),
              (e) => digester.postMessage({piece: m.id, error: String(e), name: e && e.name}));
        } else if (m.type === 'failed') {
          message(T.failed + m.message);
        }
      };
      digester.onerror = (e) => message(T.failed + (e.message || ''));
      digester.postMessage({wasm: wasmBytes, simd, zip: zip && workersRead ? zip : undefined,
                            zipSize: zip && !workersRead ? zip.size : undefined});
      // Two batches each: the page reads the next one's files while the worker digests one.
      feed();
      feed();
    }
    return (more) => {
      files.push(...more);
      for (const feed of idle.splice(0)) feed();
    };
  }
  function megabytes(n) { return (n / 1048576).toFixed(1) + ' MB'; }

  // A new check of `what` (the job): the working view, and its check worker.
  function startWorker(what) {
    stopWorker();
    job = what;
    state.startedAt = performance.now();
    show('choose', false);
    show('outcome', false);
    show('work', true);
    $('bar').value = 0;
    $('counts').textContent = T.working;
    setPhase('working');
    begun = null;
    worker = new Worker(workerUrl);
    worker.onmessage = (e) => receive(e.data);
    worker.onerror = (e) => message(T.failed + (e.message || ''));
    resetBudget();
    return worker;
  }

  function start(entries, folders, root, source, checker) {
    const check = startWorker({entries, folders, root, source});
    handOver(check, entries, folders, root, checker, source).catch((e) => { if (worker === check) message(T.failed + e.message); });
  }

  // A downloaded zip, checked before it is unpacked: the check worker reads its directory and
  // chooses its checker, the digest workers read its entries.
  function startZip(zip, checker) {
    startWorker({zip}).postMessage({wasm: wasmBytes, zip: {name: zip.name, size: zip.size}, checker, lanes: simd, workers: true});
  }
  state.startZip = startZip;

  // The .exe entries the check worker reads the check data of, inflated here: each one's bytes,
  // or none where they are more than a check could use.
  async function inflateExes(zip, list) {
    const out = [];
    for (const facts of list) {
      if (facts.size > DATA_MAX + (64 << 20)) {
        out.push({index: facts.index, bytes: null});
        continue;
      }
      const parts = [];
      await digestZipEntry(zip, facts, {update: (bytes) => { parts.push(bytes.slice()); }, crc() {}});
      out.push({index: facts.index, bytes: await new Blob(parts).arrayBuffer()});
    }
    return out;
  }

  // Hands the check worker the chosen files. Apart from `start`, whose worker's handlers live
  // as long as the check does: a function that made a closure over `entries` there would keep
  // every File alive with them, and the browser keeps memory for every File read.
  // Each File handed to a worker costs the browser a registration of its own: the check
  // worker gets only the .exe files' when the digest workers read the rest.
  // The check worker reads no .exe file itself: whether one is a checker, and its check data,
  // it takes from the file's tail, read here once (where that worker cannot read a File at all,
  // nothing else could be). The File goes along only where that worker digests files itself.
  async function handOver(check, entries, folders, root, checker, source) {
    await probed;
    const handed = [];
    const tails = [];
    for (const e of entries) {
      const file = digestWorkers > 0 ? null : e.file;
      if (!/\.exe$/i.test(e.path)) {
        handed.push({path: e.path, file});
        continue;
      }
      const tail = await tailOf(e.file);
      if (worker !== check) return;
      tails.push(tail.bytes);
      handed.push({path: e.path, file, size: e.file.size, tail: tail.bytes, tooBig: tail.tooBig});
    }
    check.postMessage({wasm: wasmBytes, entries: handed, folders, root, checker, lanes: simd,
                       workers: digestWorkers > 0, unseen: source === 'input'}, tails);
  }

  // The end of an .exe file that a check may need: the check data's trailer (16 bytes, which
  // begin with "VXR!" and go on with the data's size, checkfile.h) and, where it declares data
  // the file can hold, that data before it. Nothing where the file cannot be read: the check
  // then finds no check data there, as vexorin-check would.
  async function tailOf(file) {
    const size = file.size;
    try {
      if (size < 16) return {bytes: new ArrayBuffer(0)};
      const trailer = await file.slice(size - 16).arrayBuffer();
      const fields = new DataView(trailer);
      if (fields.getUint32(0) !== 0x56585221) return {bytes: trailer};
      const length = fields.getUint32(4, true);
      if (length > DATA_MAX) return {bytes: trailer, tooBig: true};
      if (length + 16 > size) return {bytes: trailer};
      return {bytes: await file.slice(size - 16 - length).arrayBuffer()};
    } catch (e) {
      return {bytes: new ArrayBuffer(0)};
    }
  }

  function receive(m) {
    if (m.type === 'begin') {
      begun = {files: m.files, bytes: m.bytes, at: performance.now()};
      state.checker = m.checker;
    } else if (m.type === 'progress') {
      showProgress(m);
    } else if (m.type === 'zip-piece') {
      const check = worker;
      job.zip.slice(m.start, m.end).arrayBuffer().then((bytes) => { if (check === worker) check.postMessage({answer: bytes}, [bytes]); },
                                                     (e) => { if (check === worker) message(T.failed + String(e && e.message || e)); });
    } else if (m.type === 'zip-inflate') {
      const check = worker;
      inflateExes(job.zip, m.entries).then((list) => { if (check === worker) check.postMessage({answer: list}); },
                                            (e) => { if (check === worker) message(T.failed + String(e && e.message || e)); });
    } else if (m.type === 'not-zip') {
      message(T.notZip);
    } else if (m.type === 'digest' && m.zip) {
      state.listedAt = performance.now();
      addFiles = digestAll(m.zip, job.zip);
    } else if (m.type === 'more' && m.zip) {
      addFiles(m.zip);
    } else if (m.type === 'digest') {
      state.listedAt = performance.now();  // the times of the steps, for the benchmark
      // The files that the check did not ask for by name, which it may want later under a
      // garbled one.
      const asked = new Uint8Array(job.entries.length);
      for (const i of m.indices) if (i >= 0) asked[i] = 1;
      others = new Map();
      job.entries.forEach((e, i) => { if (!asked[i] && e.path.startsWith(m.folder + '/')) others.set(i, e.file); });
      const files = Array.from(m.indices, i => (i >= 0 ? job.entries[i].file : null));
      // From here on the Files live only as long as the digest workers need them.
      job.entries = null;
      addFiles = digestAll(files);
    } else if (m.type === 'more') {
      addFiles(Array.from(m.indices, i => (i >= 0 && others.has(i) ? others.get(i) : null)));
    } else if (m.type === 'result') {
      finish(m);
    } else if (m.type === 'too-big') {
      message(fill(T.tooMuchData, megabytes(DATA_MAX)));
    } else if (m.type === 'several') {
      stopWorker();
      show('work', false);
      show('choose', true);
      const box = $('choices');
      box.textContent = '';
      for (const name of m.names) {
        const button = document.createElement('button');
        button.textContent = name;
        button.onclick = () => (job.zip ? startZip(job.zip, name) : start(job.entries, job.folders, job.root, job.source, name));
        box.appendChild(button);
      }
      setPhase('choose');
    } else if (m.type === 'none' && m.zip) {
      message(T.zipNone);
    } else if (m.type === 'none') {
      let text = T.none;
      if (m.below.length) text = T.elsewhere + m.below.join(', ');
      else if (m.exes.length) text += '\n' + T.notChecker + m.exes.join(', ') + '\n' + T.noneBelow;
      else text += '\n' + T.noneBelow;
      message(text);
    } else if (m.type === 'failed') {
      message(T.failed + m.message);
    }
  }

  function showProgress(m) {
    if (!begun) return;
    const seconds = (performance.now() - begun.at) / 1000;
    const speed = seconds > 0 ? m.bytes / seconds : 0;
    $('bar').value = begun.bytes > 0 ? Math.min(1, m.bytes / begun.bytes) : 0;
    let line = `${m.files} / ${begun.files} ${T.files} · ${megabytes(m.bytes)} / ${megabytes(begun.bytes)}`;
    if (speed > 0) {
      line += ` · ${megabytes(speed)}/s`;
      const left = Math.max(0, (begun.bytes - m.bytes) / speed);
      line += ` · ${T.left} ${Math.ceil(left)} ${T.seconds}`;
    }
    $('counts').textContent = line;
  }

  // The page's own lines about a report, in its language: the causes of names found under
  // other forms, each such entry, the summary. The lines of the checker (each problem's text,
  // with the distributor's message) are shown as they are.
  function describe(json) {
    const problems = json.problems || [];
    const counts = new Map();
    for (const p of problems) if (p.foundAs) counts.set(p.foundAs, (counts.get(p.foundAs) || 0) + 1);
    const causeOf = (id) => {
      const own = T.causes[id] || T.causes[id.replace(/-latin1$/, '')];
      const said = (json.nameCauses || []).find(c => c.foundAs === id);
      return own || (said ? said.cause : '');
    };
    const renamed = (p) => p.kind === 'folder-under-other-name' || p.kind === 'file-under-other-name';
    // The checker's text of a problem: its report puts the line of an entry found under another
    // name before it.
    const checkerText = (p) => {
      if (!p.foundAs) return p.text;
      const cut = p.text.indexOf('\n');
      return cut < 0 ? '' : p.text.slice(cut + 1);
    };
    const thereLine = (p) => {
      let line = fill(p.kind === 'folder-under-other-name' ? T.folderThere : T.fileThere, p.path, p.nameOnDisk);
      if (p.kind === 'file-under-other-name') line += T.thereIntact;
      else if (p.kind === 'damaged-file') line += T.thereDamaged;
      else if (p.kind === 'read-error') line += T.thereUnread;
      if (counts.get(p.foundAs) < 2) line += fill(T.because, causeOf(p.foundAs));
      return line + T.period;
    };
    const causeLines = [...counts].filter(([, n]) => n >= 2).map(([id, n]) => fill(T.causeLine, n, causeOf(id)));
    // Every problem, one line each (the checker's first line), as vexorin-check --all lists them.
    const all = [...causeLines];
    for (const p of problems) {
      if (p.foundAs) all.push(thereLine(p));
      if (!renamed(p)) all.push(checkerText(p).split('\n')[0]);
    }
    let summary = fill(problems.length ? T.summary : T.summaryNone, json.foldersChecked, json.filesChecked, problems.length);
    const elsewhere = problems.filter(p => p.foundAs).length;
    if (elsewhere) summary += fill(T.summaryRenamed, elsewhere);
    // The first problem that the checker would have stopped at, whole, after the causes and the
    // entries found under other names that come before it.
    const first = [...causeLines];
    const ending = problems.find(p => !renamed(p));
    for (const p of problems) if (p.foundAs && counts.get(p.foundAs) < 2) first.push(thereLine(p));
    if (ending && ending.foundAs && counts.get(ending.foundAs) >= 2) first.push(thereLine(ending));
    if (ending) first.push(checkerText(ending).replace(/\n$/, ''));
    else if (elsewhere) first.push(T.onlyNames);
    return {first: first.join('\n'), all, summary};
  }

  const UNLISTED_SHOWN = 200;
  function finish(m) {
    stopWorker();
    show('work', false);
    show('outcome', true);
    state.result = m;
    // From the folder handed over to the result, as a recipient waits.
    state.seconds = (performance.now() - state.startedAt) / 1000;
    const list = $('problems');
    list.textContent = '';
    $('summary').textContent = '';
    show('listTitle', false);
    $('unlisted').textContent = '';
    show('unlistedTitle', false);
    $('result').className = m.outcome === 'intact' ? 'good' : 'bad';
    $('zipNotes').textContent = '';
    if (m.outcome === 'zip-incomplete' || m.outcome === 'zip-damaged') {
      $('result').textContent = m.outcome === 'zip-incomplete' ? T.zipIncomplete : T.zipDamaged;
      state.copy = $('result').textContent + '\n';
    } else if (m.outcome === 'unusable') {
      $('result').textContent = m.json.escapingPath !== undefined ? fill(T.escaping, m.json.escapingPath) : m.text.replace(/\n$/, '');
      state.copy = $('result').textContent + '\n';
    } else {
      const said = describe(m.json);
      $('result').textContent = m.outcome === 'intact' ? m.text.replace(/\n$/, '') : said.first;
      $('summary').textContent = said.summary;
      if (m.outcome === 'problems') {
        for (const line of said.all) {
          const item = document.createElement('li');
          item.textContent = line;
          list.appendChild(item);
        }
        show('listTitle', true);
      }
      state.copy = $('result').textContent + '\n' + (m.outcome === 'problems' ? said.all.join('\n') + '\n' + said.summary + '\n' : '');
      // After the verdict, apart from it: what the folder holds beyond the list, the first
      // UNLISTED_SHOWN of them.
      const unlisted = m.json.unlisted || [];
      const lines = unlisted.slice(0, UNLISTED_SHOWN).map(u => fill(T.unlisted, u.path));
      if (unlisted.length > UNLISTED_SHOWN) lines.push(fill(T.unlistedMore, unlisted.length - UNLISTED_SHOWN));
      for (const line of lines) {
        const item = document.createElement('li');
        item.textContent = line;
        $('unlisted').appendChild(item);
      }
      show('unlistedTitle', lines.length > 0);
      // What the zip says of itself, apart from the verdict.
      const zip = m.json.zip;
      const notes = zip ? [...zip.uncheckable.map(n => fill(T.zipUncheckable, n)), ...zip.wholeButDifferent.map(n => fill(T.zipWholeButDifferent, n)),
                           ...zip.duplicates.map(n => fill(T.zipDuplicate, n))] : [];
      for (const line of notes) {
        const item = document.createElement('li');
        item.textContent = line;
        $('zipNotes').appendChild(item);
      }
      if (notes.length) state.copy += notes.join('\n') + '\n';
      if (lines.length) state.copy += lines.join('\n') + '\n';
    }
    // Empty folders that the folder input could not show: the files are checked all the same.
    $('note').textContent = m.unseen && m.unseen.length ? fill(T.unseenEmpty, m.unseen.map(f => `${job.root}/${f}/`).join(', ')) : '';
    show('note', $('note').textContent !== '');
    setPhase('done');
  }

  $('stop').onclick = () => {
    stopWorker();
    $('counts').textContent = T.stopped;
    $('stop').hidden = true;
    setPhase('stopped');
    setTimeout(() => { $('stop').hidden = false; show('work', false); message(T.stopped); }, 0);
  };

  $('copy').onclick = async () => {
    // The result as shown, then, when there are problems, every one and the summary.
    const text = state.result && state.copy ? state.copy : $('result').textContent;
    try {
      await navigator.clipboard.writeText(text);
    } catch (e) {
      const area = document.createElement('textarea');
      area.value = text;
      document.body.appendChild(area);
      area.select();
      document.execCommand('copy');
      area.remove();
    }
    $('copied').textContent = T.copied;
    setTimeout(() => { $('copied').textContent = ''; }, 2000);
  };

  // The folder button. Where the browser has the directory picker of the File System Access API
  // (Chromium's), it is used: it lists folders, empty ones too, so the check is exact. It needs
  // the click's user gesture: it is called at once, nothing awaited before it.
  $('folder').addEventListener('click', (e) => {
    if (typeof window.showDirectoryPicker !== 'function') return;
    e.preventDefault();
    let asked;
    try {
      asked = Promise.resolve(window.showDirectoryPicker({id: 'vexorin-check', mode: 'read'}));
    } catch (x) {
      asked = Promise.reject(x);
    }
    asked.then(picked, (x) => {
      // A cancel, or a folder the browser will not hand out (a system folder).
      if (x && x.name === 'AbortError') return;
      message(T.failed + String(x && x.message || x));
    });
  });

  // The folder the picker handed over, walked to the end: folders (empty ones too) and files,
  // each path beginning with the chosen folder's name, as a drop gives them.
  async function picked(top) {
    setPhase('reading');
    try {
      const entries = [];
      const folders = [];
      const pending = [[top, top.name]];
      while (pending.length) {
        const [dir, path] = pending.pop();
        folders.push(path);
        const files = [];
        for await (const [name, handle] of dir.entries()) {
          if (handle.kind === 'directory') pending.push([handle, `${path}/${name}`]);
          else files.push(handle.getFile().then(file => entries.push({path: `${path}/${name}`, file})));
        }
        await Promise.all(files);
      }
      start(entries, folders, top.name, 'picker');
    } catch (e) {
      message(T.failed + String(e && e.message || e));
    }
  }

  // The folder input, for the browsers without the picker (and whatever sets a folder on it):
  // the browser hands over every file below the chosen folder but never a folder, so empty
  // ones stay unseen (the check is told so), each path beginning with the chosen folder's name.
  $('folder').onchange = () => {
    const picked = [...$('folder').files];
    if (!picked.length) {
      message(T.none);  // a folder without files: the browser hands over nothing at all
      return;
    }
    // A backslash in a name comes as "/" in the path, but whole in a file's own name.
    const pathOf = (file) => {
      const path = file.webkitRelativePath;
      return file.name.includes('\\') ? path.slice(0, path.length - file.name.length) + file.name : path;
    };
    const entries = picked.map(file => ({path: pathOf(file), file}));
    const root = entries[0].path.split('/')[0];
    $('folder').value = '';
    start(entries, [], root, 'input');
  };

  // The zip button: one downloaded zip.
  $('zipFile').onchange = () => {
    const file = $('zipFile').files[0];
    $('zipFile').value = '';
    if (file) startZip(file);
  };

  // A drop: the dropped folder's entries, walked to the end (readEntries hands out at most
  // 100 entries a call, and nothing once the folder is done). Folders are seen, empty ones too.
  async function walk(top) {
    const entries = [];
    const folders = [];
    const pending = [top];
    while (pending.length) {
      const dir = pending.pop();
      const path = dir.fullPath.replace(/^\//, '');
      folders.push(path);
      const reader = dir.createReader();
      for (;;) {
        const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
        if (!batch.length) break;
        for (const entry of batch) {
          if (entry.isDirectory) {
            pending.push(entry);
          } else if (entry.isFile) {
            const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
            entries.push({path: entry.fullPath.replace(/^\//, ''), file});
          }
        }
      }
    }
    return {entries, folders};
  }

  async function dropped(dataTransfer) {
    const tops = [...dataTransfer.items].map(item => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter(Boolean);
    const dirs = tops.filter(entry => entry.isDirectory);
    if (tops.length === 1 && tops[0].isFile) {
      try {
        startZip(await new Promise((resolve, reject) => tops[0].file(resolve, reject)));
      } catch (e) {
        message(T.failed + String(e && e.message || e));
      }
      return;
    }
    if (dirs.length !== 1) {
      message(T.droppedFiles);
      return;
    }
    setPhase('reading');
    try {
      const {entries, folders} = await walk(dirs[0]);
      start(entries, folders, dirs[0].fullPath.replace(/^\//, ''), 'drop');
    } catch (e) {
      message(T.failed + String(e && e.message || e));
    }
  }
  state.dropped = dropped;

  const zone = document.body;
  zone.addEventListener('dragover', (e) => { e.preventDefault(); $('drop').classList.add('over'); });
  zone.addEventListener('dragleave', () => $('drop').classList.remove('over'));
  zone.addEventListener('drop', (e) => {
    e.preventDefault();
    $('drop').classList.remove('over');
    dropped(e.dataTransfer);
  });
})();
