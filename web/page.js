// The page: the recipient chooses or drops the unpacked folder, a worker runs the check (the
// C++ check compiled to WebAssembly), and this script shows its progress and its result.
'use strict';
(() => {
  const TEXTS = {
    ja: {
      title: 'Vexorin フォルダ検査',
      intro: 'ダウンロードして解凍したフォルダを選ぶか、このページにドロップしてください。フォルダの中のチェッカー (Vexorin.exe) と同じ検査をします。チェッカーを実行する必要はありません。',
      private: 'ファイルはこのブラウザの中だけで読まれます。このページは何も送信しません (読み込み後の通信はすべて禁止されています)。',
      dropHere: 'ここに解凍したフォルダをドロップ',
      pick: 'フォルダを選ぶ…',
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
      droppedFiles: 'ファイルではなく、解凍したフォルダそのものをドロップしてください。',
      emptyInvisible: '注意: フォルダ選択では空のフォルダが見えません。見つからないと表示されたフォルダが空のフォルダとして存在する場合は、フォルダをこのページにドロップして検査してください。',
      failed: '検査できませんでした: ',
      checker: 'チェッカー',
    },
    en: {
      title: 'Vexorin folder check',
      intro: 'Choose the folder you downloaded and unpacked, or drop it on this page. It is checked as its checker (Vexorin.exe) checks it, without running the checker.',
      private: 'Your files are read inside this browser only. This page sends nothing anywhere (every connection after loading is forbidden).',
      dropHere: 'Drop the unpacked folder here',
      pick: 'Choose folder…',
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
      droppedFiles: 'Drop the unpacked folder itself, not files.',
      emptyInvisible: 'Note: a folder chosen with the button shows no empty folders. If a folder reported missing is there but empty, drop the folder on this page to check it.',
      failed: 'The check could not run: ',
      checker: 'Checker',
    },
  };
  const lang = /^ja\b/i.test(navigator.language || '') ? 'ja' : 'en';
  const T = TEXTS[lang];
  document.documentElement.lang = lang;
  document.title = T.title;
  for (const el of document.querySelectorAll('[data-t]')) el.textContent = T[el.dataset.t];

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

  // Files up to this size are read by the page and handed to the digest workers as bytes;
  // larger ones a digest worker reads as a stream (or, where it cannot read a File, asks the
  // page for a piece at a time).
  const WHOLE = 8 << 20;
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

  // Digests the files the check asked for (null: not handed over) in the digest workers, in
  // batches as each worker gets done, and hands the digests back to the check in its order,
  // with `others` ({index, file}), the files it did not ask for, to look for garbled names in.
  // Each File is let go once it is read (or handed to a worker to stream): the browser keeps
  // memory for every File read for as long as the File lives.
  function digestAll(files, others) {
    const count = files.length;
    const digests = {outcomes: new Uint8Array(count), bytes: new Float64Array(count), md5s: new Uint8Array(16 * count)};
    const read = [];
    let next = 0;
    let done = 0;
    const check = worker;
    for (let w = 0; w < Math.min(digestWorkers, count); ++w) {
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
        while (next < count && tasks.length < 64 && size < 16 * 1048576) {
          const file = files[next];
          if (!file) {
            tasks.push({index: next, file: null});
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
        if (!tasks.length) return;
        nudge(tasks.length);
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
          // Each file's digest in 32 bytes: the MD5, the bytes read, the outcome.
          const records = new DataView(m.records);
          m.indices.forEach((index, k) => {
            digests.md5s.set(new Uint8Array(m.records, 32 * k, 16), 16 * index);
            digests.bytes[index] = records.getFloat64(32 * k + 16, true);
            digests.outcomes[index] = records.getInt32(32 * k + 24, true);
            files[index] = null;
          });
          done += m.indices.length;
          if (done === count) {
            state.digestedAt = performance.now();
            for (const x of pool) x.terminate();
            pool = [];
            check.postMessage({digests, others}, [digests.outcomes.buffer, digests.bytes.buffer, digests.md5s.buffer]);
          } else {
            feed();
          }
        } else if (m.type === 'piece') {
          files[m.index].slice(m.pos, m.pos + m.size).arrayBuffer().then(
              (bytes) => digester.postMessage({piece: m.index, bytes}, [bytes]),
              (e) => digester.postMessage({piece: m.index, error: String(e)}));
        } else if (m.type === 'failed') {
          message(T.failed + m.message);
        }
      };
      digester.onerror = (e) => message(T.failed + (e.message || ''));
      digester.postMessage({wasm: wasmBytes, simd});
      // Two batches each: the page reads the next one's files while the worker digests one.
      feed();
      feed();
    }
  }
  function megabytes(n) { return (n / 1048576).toFixed(1) + ' MB'; }

  function start(entries, folders, root, source, checker) {
    stopWorker();
    job = {entries, folders, root, source};
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
    const check = worker;
    handOver(check, entries, folders, root, checker).catch((e) => { if (worker === check) message(T.failed + e.message); });
  }

  // Hands the check worker the chosen files. Apart from `start`, whose worker's handlers live
  // as long as the check does: a function that made a closure over `entries` there would keep
  // every File alive with them, and the browser keeps memory for every File read.
  // Each File handed to a worker costs the browser a registration of its own: the check
  // worker gets only the .exe files' when the digest workers read the rest.
  async function handOver(check, entries, folders, root, checker) {
    await probed;
    const handed = digestWorkers > 0 ? entries.map(e => ({path: e.path, file: /\.exe$/i.test(e.path) ? e.file : null})) : entries;
    const bytes = [];
    if (!workersRead) {
      for (const e of handed) {
        if (e.file) bytes.push(e.bytes = await e.file.arrayBuffer());
        e.file = null;
      }
    }
    check.postMessage({wasm: wasmBytes, entries: handed, folders, root, checker, lanes: simd, workers: digestWorkers > 0}, bytes);
  }

  function receive(m) {
    if (m.type === 'begin') {
      begun = {files: m.files, bytes: m.bytes, at: performance.now()};
      state.checker = m.checker;
    } else if (m.type === 'progress') {
      showProgress(m);
    } else if (m.type === 'digest') {
      state.listedAt = performance.now();  // the times of the steps, for the benchmark
      // Files that the check did not ask for by name, which it may find under a garbled one.
      const asked = new Uint8Array(job.entries.length);
      for (const i of m.indices) if (i >= 0) asked[i] = 1;
      const others = [];
      job.entries.forEach((e, i) => { if (!asked[i] && e.path.startsWith(m.folder + '/')) others.push({index: i, file: e.file}); });
      const files = Array.from(m.indices, i => (i >= 0 ? job.entries[i].file : null));
      // From here on the Files live only as long as the digest workers need them.
      job.entries = null;
      digestAll(files, others);
    } else if (m.type === 'result') {
      finish(m);
    } else if (m.type === 'several') {
      stopWorker();
      show('work', false);
      show('choose', true);
      const box = $('choices');
      box.textContent = '';
      for (const name of m.names) {
        const button = document.createElement('button');
        button.textContent = name;
        button.onclick = () => start(job.entries, job.folders, job.root, job.source, name);
        box.appendChild(button);
      }
      setPhase('choose');
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

  function finish(m) {
    stopWorker();
    show('work', false);
    show('outcome', true);
    state.result = m;
    // From the folder handed over to the result, as a recipient waits.
    state.seconds = (performance.now() - state.startedAt) / 1000;
    $('result').textContent = m.text.replace(/\n$/, '');
    $('result').className = m.outcome === 'intact' ? 'good' : 'bad';
    const list = $('problems');
    list.textContent = '';
    $('summary').textContent = '';
    if (m.outcome === 'problems') {
      const lines = m.all.replace(/\n$/, '').split('\n');
      $('summary').textContent = lines.pop();
      for (const line of lines) {
        const item = document.createElement('li');
        item.textContent = line;
        list.appendChild(item);
      }
      show('listTitle', true);
    } else {
      show('listTitle', false);
      if (m.outcome === 'intact') $('summary').textContent = m.all.replace(/\n$/, '').split('\n').pop();
    }
    const folderMissing = m.json.problems && m.json.problems.some(p => p.kind === 'missing-folder');
    $('note').textContent = T.emptyInvisible;
    show('note', folderMissing && job.source === 'input');
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
    const r = state.result;
    // vexorin-check's text, then, when there are problems, every one as --all lists them.
    const text = r ? r.text + (r.outcome === 'problems' ? r.all : '') : $('result').textContent;
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

  // The folder button: the browser hands over every file below the chosen folder (never a
  // folder: empty ones stay unseen), each path beginning with the chosen folder's name.
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
