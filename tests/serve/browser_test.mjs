// browser_test.mjs -- the workbench page in a real browser.
//
//   node tests/serve/browser_test.mjs MORVENDA_BINARY OUTPUT_DIR
//
// Starts `morvenda serve` on a fresh folder, drives the page in headless
// Chromium from Debian (through playwright-core, which downloads no
// browser): makes two herds from the example, lowers the milk price of one
// by 5 %, runs both, checks the yearly table and every chart, compares the
// two runs, ranks the example cow list, and saves a screenshot of each
// page in OUTPUT_DIR.  Prints "N passed, N failed" and exits 1 on a failure.
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const source = path.resolve(here, '../..');
const require = createRequire(path.join(source, 'web/package.json'));
const { chromium } = require('playwright-core');

const [binary, outDir] = process.argv.slice(2);
const CHROMIUM = process.env.MORVENDA_CHROMIUM || '/usr/bin/chromium';
const RUN_TIMEOUT_MS = 600000;
const MILK_PRICE_ITEM = 26;
const MONTHS = 24;
const PRICE_DROP = 0.95;

let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) passed++;
  else failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
}

function startServer(dir) {
  return new Promise((resolve, reject) => {
    const child = spawn(binary, ['serve', '--dir', dir, '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const m = out.match(/open (http:\/\/\S+)/);
      if (m) resolve({ child, url: m[1] });
    });
    child.on('exit', (code) => reject(new Error(`the server ended (${code}): ${out}`)));
  });
}

async function shot(page, name) {
  await page.screenshot({ path: path.join(outDir, `${name}.png`), fullPage: false });
}

async function waitRunsDone(page, count) {
  await page.waitForFunction((n) => {
    const rows = [...document.querySelectorAll('#run-list tbody tr')];
    return rows.length >= n && rows.every((r) => !['queued', 'running'].includes(r.dataset.state));
  }, count, { timeout: RUN_TIMEOUT_MS, polling: 250 }).catch(async (e) => {
    console.log(await page.textContent('#run-list'), await page.textContent('#status'));
    throw e;
  });
}

async function main() {
  fs.mkdirSync(outDir, { recursive: true });
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'morvenda-browser-'));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'morvenda-chromium-'));
  const { child, url } = await startServer(dir);
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1360, height: 900 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  try {
    const page = context.pages()[0] || (await context.newPage());
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    // a script, style or request the page's policy blocks is an error too
    page.on('console', (m) => { if (/Content Security Policy/i.test(m.text())) errors.push(m.text()); });

    // Herds: two herds from the example.
    await page.goto(url);
    await page.waitForSelector('body[data-ready="true"]');
    const herds = [['holstein.bio', 'holstein_lb.bio'], ['milk_minus_5.bio', 'holstein_lb.bio'], ['holstein_kg.bio', 'holstein_kg.bio']];
    for (const [name, example] of herds) {
      await page.goto(`${url}#herds`);
      await page.waitForSelector('#new-example option', { state: 'attached' });
      await page.selectOption('#new-example', example);
      await page.fill('#new-name', name);
      await page.click('#new-create');
      await page.waitForSelector(`#edit-title:has-text("Edit ${name}")`);
    }
    await page.goto(`${url}?token=0123#herds`);
    await page.waitForSelector('#herd-list tbody tr:nth-child(3)');
    check(await page.evaluate(() => location.search === '' && location.hash === '#herds'),
      'a token leaves the address bar once the page has loaded');
    check((await page.locator('#herd-list tbody tr').count()) === 3, 'the herds list shows the new herds');
    check(await page.evaluate(() => typeof window.uPlot === 'undefined'), 'the chart library waits for the first chart');
    await shot(page, 'herds');

    // Edit: a fault is shown by its field, then the milk price drops 5 %.
    await page.goto(`${url}#edit/milk_minus_5.bio`);
    await page.click('#edit-groups button[data-group="reproduction"]');
    await page.fill('input[data-key="20.5"]', '0.4x');
    await page.click('#edit-validate');
    await page.waitForSelector('#item-20 .fault');
    check((await page.textContent('#item-20 .fault')).includes('item 20 (conception rate)'), 'validation names the item at fault next to it');
    check(await page.locator('input[data-key="20.5"].bad').count() === 1, 'the value at fault is marked');
    await shot(page, 'edit-fault');
    const herd = await page.evaluate(() => fetch('/api/herds/milk_minus_5.bio').then((r) => r.json()));
    await page.fill('input[data-key="20.5"]', herd.values['20.5']);
    await page.click('#edit-groups button[data-group="prices"]');
    for (let m = 0; m < MONTHS; m++) {
      const key = `${MILK_PRICE_ITEM}.${MONTHS + m}`;
      const lower = (Number(herd.values[key]) * PRICE_DROP).toFixed(2);
      await page.fill(`input[data-key="${key}"]`, lower);
    }
    check((await page.textContent('#edit-changes')).startsWith('24 values'), 'the page counts the changed prices');
    await page.evaluate(() => {
      document.activeElement.blur();
      for (const e of document.querySelectorAll('.item')) e.scrollLeft = 0;
      window.scrollTo(0, 0);
    });
    await shot(page, 'edit');
    await page.click('#edit-run');
    await page.waitForURL(/#runs/);
    await page.goto(`${url}#herds`);
    await page.click('#herd-list tbody tr:has(a:text-is("holstein.bio")) button:has-text("Run")');
    await page.waitForURL(/#runs/);
    await page.waitForSelector('#run-list tbody tr progress');
    await shot(page, 'runs-progress');
    await waitRunsDone(page, 2);
    check((await page.locator('#run-list tbody tr[data-state="done"]').count()) === 2, 'both runs are done');
    await shot(page, 'runs');

    // Results: the yearly table and every chart of the milk-price run.
    const saved = fs.readFileSync(path.join(dir, 'milk_minus_5.bio'), 'utf8');
    check(saved.split('\n').length === fs.readFileSync(path.join(source, 'examples/holstein_lb.bio'), 'utf8').split('\n').length,
      'the saved herd keeps its lines');
    await page.click('#run-list tbody tr:has-text("milk_minus_5.bio") a:has-text("Results")');
    await page.waitForSelector('#yearly tbody tr');
    const figures = await page.locator('#yearly tbody tr').count();
    check(figures > 50, `the yearly table has its figures (${figures})`);
    check((await page.textContent('#yearly')).includes('milksales_cyr'), 'the yearly table names milk sales');
    const charts = await page.locator('#charts .chart').count();
    const drawn = await page.locator('#charts .chart[data-drawn="true"] canvas').count();
    check(charts === 10 && drawn === 10, `every chart has drawn (${drawn} of ${charts})`);
    const painted = await page.evaluate(() => [...document.querySelectorAll('#charts canvas')].every((c) => {
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      for (let i = 3; i < d.length; i += 4) if (d[i] !== 0) return true;
      return false;
    }));
    check(painted, 'every chart canvas holds a drawing');
    await shot(page, 'results');
    await page.locator('#charts').scrollIntoViewIfNeeded();
    await shot(page, 'results-charts');

    // Compare the run with the unchanged herd.
    await page.goto(`${url}#compare`);
    await page.waitForSelector('#compare-pick input');
    const boxes = page.locator('#compare-pick input');
    for (let i = 0; i < (await boxes.count()); i++) await boxes.nth(i).check();
    // The unchanged herd first, as the base.
    await page.evaluate(() => {
      const pick = document.getElementById('compare-pick');
      const labels = [...pick.children];
      labels.sort((a, b) => (a.textContent.includes(' holstein.bio') ? -1 : 1) - (b.textContent.includes(' holstein.bio') ? -1 : 1));
      pick.replaceChildren(...labels);
    });
    await page.click('#compare-go');
    await page.waitForSelector('#compare-table tbody tr');
    const milk = await page.locator('#compare-table tbody tr:has(td:text-is("milksales_cyr")) td').allTextContents();
    const pct = Number(milk[4]);
    check(pct < -3 && pct > -7, `milk sales fall by about 5 % (${milk[4]} %)`);
    check((await page.locator('#compare-charts .chart canvas').count()) === 3, 'the comparison charts have drawn');
    await shot(page, 'compare');

    // Cows: the example cow list, ranked on the herd it was made for.
    const list = fs.readdirSync(path.join(source, 'examples')).find((f) => f.endsWith('_cows.csv'));
    check(Boolean(list), 'an example cow list is in examples/');
    if (list) {
      const rows = fs.readFileSync(path.join(source, 'examples', list), 'utf8').trim().split('\n').length - 1;
      await page.goto(`${url}#cows`);
      await page.waitForSelector('#cows-herd option', { state: 'attached' });
      await page.selectOption('#cows-herd', list.replace('_cows.csv', '.bio'));
      await page.setInputFiles('#cows-file', path.join(source, 'examples', list));
      await page.click('#cows-go');
      await page.waitForSelector('#cows-table tbody tr', { timeout: RUN_TIMEOUT_MS });
      const shown = await page.locator('#cows-table tbody tr').count();
      check(shown === rows, `every cow of the list is ranked (${shown} of ${rows})`);
      const header = await page.locator('#cows-table thead th').allTextContents();
      const rankCol = header.indexOf('rank');
      const ranks = await page.locator(`#cows-table tbody tr td:nth-child(${rankCol + 1})`).allTextContents();
      const valued = ranks.filter((r) => r !== '').map(Number);
      check(valued.length > 0 && valued.every((r, i) => r === i + 1), 'the list is in rank order, 1 first');
      const rpoCol = header.indexOf('rpo');
      await page.click(`#cows-table thead th:nth-child(${rpoCol + 1})`);
      await page.click(`#cows-table thead th:nth-child(${rpoCol + 1})`);
      const rpos = (await page.locator(`#cows-table tbody tr td:nth-child(${rpoCol + 1})`).allTextContents())
        .filter((v) => v !== '').map((v) => Number(v.replace(/,/g, '')));
      check(rpos.every((v, i) => i === 0 || rpos[i - 1] >= v), 'a click on a column sorts the table by it');
      check(await page.isVisible('#cows-download'), 'the ranked list can be downloaded');
      await shot(page, 'cows');
    }
    check(errors.length === 0, `no script errors on the page${errors.length ? ': ' + errors.join('; ') : ''}`);
  } finally {
    await context.close();
    child.kill('SIGTERM');
    fs.rmSync(dir, { recursive: true, force: true });
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

main()
  .catch((e) => { failed++; console.log(`FAIL ${e.stack || e.message}`); })
  .finally(() => {
    console.log(`${passed} passed, ${failed} failed`);
    process.exit(failed ? 1 : 0);
  });
