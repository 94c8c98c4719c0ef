// serve_bench.mjs -- how fast the workbench page answers.
//
//   node bench/serve_bench.mjs build/morvenda [REPEATS]
//
// Starts `morvenda serve` on a fresh folder with the example herd and one
// finished run, then, in headless Chromium from Debian, times REPEATS
// times (default 20) in a fresh page:
//   interactive  from the start of navigation to the herds list in the page
//                (page, scripts and styles loaded, the list fetched and
//                put in, the page's handlers attached), from the page's own
//                mark; "as the bench sees it" adds the bench's polling and
//                its round trip to the browser;
//   results      from the start of navigation to a finished run's yearly
//                table and all ten charts drawn;
//   run          from a click on Run (herds page) to that run's results
//                drawn, the run itself included (at most RUN_REPEATS times),
//                split at the run's end (its msg.txt written last): click
//                to run end, and run end to results drawn (the workbench's
//                own share, which the load of the machine moves least);
// and the results request alone (GET /api/runs/ID/results) from Node.
// Prints the median, the fastest and the slowest of each in milliseconds.
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const source = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const require = createRequire(path.join(source, 'web/package.json'));
const { chromium } = require('playwright-core');
const [binary, repeatsArg] = process.argv.slice(2);
const REPEATS = Number(repeatsArg || 20);
const CHARTS = 10;
const RUN_REPEATS = 5;

function startServer(dir) {
  return new Promise((resolve, reject) => {
    const child = spawn(binary, ['serve', '--dir', dir, '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    child.stdout.on('data', (c) => {
      out += c;
      const m = out.match(/open (http:\/\/\S+)/);
      if (m) resolve({ child, url: m[1] });
    });
    child.on('exit', (code) => reject(new Error(`server ended (${code})`)));
  });
}

async function json(url, init) {
  const res = await fetch(url, init);
  return res.json();
}

function summary(name, times) {
  const s = [...times].sort((a, b) => a - b);
  const median = s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
  console.log(`${name.padEnd(22)} median ${median.toFixed(0).padStart(5)} ms   min ${s[0].toFixed(0).padStart(5)}   max ${s[s.length - 1].toFixed(0).padStart(5)}   (n=${s.length})`);
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'morvenda-bench-'));
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'morvenda-chromium-'));
const { child, url } = await startServer(dir);
// changes must come as the server's own page sends them: its Origin, JSON
const origin = new URL(url).origin;
const post = (p, body) => json(url + p.slice(1), { method: 'POST', headers: { 'Content-Type': 'application/json', Origin: origin }, body: JSON.stringify(body) });
process.on('exit', () => child.kill('SIGTERM'));
await post('/api/herds', { name: 'holstein.bio', example: 'holstein_lb.bio' });
const { id } = await post('/api/runs', { herd: 'holstein.bio' });
for (;;) {
  const run = await json(`${url}api/runs/${id}`);
  if (run.state === 'done') break;
  if (run.state !== 'running' && run.state !== 'queued') throw new Error(`run ${run.state}`);
  await new Promise((r) => setTimeout(r, 200));
}

const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.MORVENDA_CHROMIUM || '/usr/bin/chromium',
  headless: true,
  viewport: { width: 1360, height: 900 },
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
const interactive = [];
const results = [];
const request = [];
const runToResults = [];
const runEndToResults = [];
const runItself = [];
try {
  for (let i = 0; i < REPEATS; i++) {
    const page = await context.newPage();
    await page.goto(`${url}#herds`);
    await page.waitForSelector('#herd-list tbody tr a');
    /* the page marks when its list is in; the list is drawn with the next frame */
    interactive.push(await page.evaluate(() => new Promise((resolve) => {
      const listed = performance.getEntriesByName('herds-listed')[0].startTime;
      requestAnimationFrame(() => resolve({ listed, seen: performance.now() }));
    })));
    await page.close();

    const second = await context.newPage();
    await second.goto(`${url}#results/${id}`);
    await second.waitForFunction((n) => document.querySelectorAll('#charts .chart[data-drawn="true"]').length === n
      && document.querySelectorAll('#yearly tbody tr').length > 0, CHARTS, { polling: 'raf' });
    results.push(await second.evaluate(() => performance.now()));
    await second.close();

    if (i < RUN_REPEATS) {
      const third = await context.newPage();
      await third.goto(`${url}#herds`);
      await third.waitForSelector('#herd-list tbody tr a');
      const clicked = await third.evaluate(() => {
        const t = performance.now();
        document.querySelector('#herd-list tbody tr button').click();
        return t;
      });
      await third.waitForFunction((n) => location.hash.startsWith('#results/')
        && document.querySelectorAll('#charts .chart[data-drawn="true"]').length === n
        && document.querySelectorAll('#yearly tbody tr').length > 0, CHARTS, { polling: 'raf', timeout: 120000 });
      const [took, drawnAt, runId] = await third.evaluate((t) => [performance.now() - t, performance.timeOrigin + performance.now(),
        location.hash.split('/')[1]], clicked);
      runToResults.push(took);
      /* the run's last message is written as it ends: from there on the
         time is the workbench's own, whatever the load on the machine */
      const ended = fs.statSync(path.join(dir, 'runs', runId, 'msg.txt')).mtimeMs;
      runEndToResults.push(drawnAt - ended);
      runItself.push(took - (drawnAt - ended));
      await third.close();
    }

    const t0 = performance.now();
    await (await fetch(`${url}api/runs/${id}/results`)).arrayBuffer();
    request.push(performance.now() - t0);
  }
} finally {
  await context.close();
  child.kill('SIGTERM');
  fs.rmSync(dir, { recursive: true, force: true });
  fs.rmSync(profile, { recursive: true, force: true });
}
summary('page interactive', interactive.map((t) => t.listed));
summary('  as the bench sees it', interactive.map((t) => t.seen));
summary('finished run shown', results);
summary('results request', request);
summary('run click to results', runToResults);
summary('  click to run end', runItself);
summary('  run end to results', runEndToResults);
