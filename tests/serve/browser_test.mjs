// browser_test.mjs -- the workbench page in a real browser.
//
//   node tests/serve/browser_test.mjs MORVENDA_BINARY OUTPUT_DIR
//
// Starts `morvenda serve` on a fresh folder, drives the page in headless
// Chromium from Debian (through playwright-core, which downloads no
// browser): makes two herds from the example, lowers the milk price of one
// by 5 %, runs both, checks the yearly table and every chart, compares the
// two runs, ranks the example cow list, calibrates a real herd from its
// records (browser_calibrate.mjs), and saves a screenshot of each
// page in OUTPUT_DIR.  Prints "N passed, N failed" and exits 1 on a failure.
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { calibratePage } from './browser_calibrate.mjs';

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
const LOSS_MILK_PRICE = 5;
const A4_PAGES = 2;
const axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

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

// The Sweeps view: a small sweep (2 interest rates x 3 cull costs) made by
// tools/morvenda-sweep in the herds folder, beside a .db that is not a
// sweep database; a figure plotted against one item by the other, its
// points checked against the sweep's CSV.
async function sweepView(page, url, dir, axeCheck) {
  const { execFileSync } = await import('node:child_process');
  const base = path.join(source, 'examples/holstein_lb.bio');
  execFileSync(path.join(source, 'tools/morvenda-sweep'), ['-m', binary, '-j', '2', '-d', path.join(dir, 'sweep-runs'),
    '--db', 'prices.db', '-o', 'prices.csv', '-b', base, '-v', 'interest=0,0.05', '-v', 'cullcost=50,125,200'],
  { cwd: dir, stdio: ['ignore', 'ignore', 'inherit'] });
  fs.writeFileSync(path.join(dir, 'notes.db'), 'not a database at all\n'.repeat(100));
  await page.goto(`${url}#sweeps`);
  await page.waitForSelector('#sweep-list tr[data-sweep="notes.db"]');
  const listed = await page.textContent('#sweep-list tr[data-sweep="prices.db"]');
  const bad = await page.textContent('#sweep-list tr[data-sweep="notes.db"]');
  check(listed.includes('6') && listed.includes('interest, cullcost') && bad.includes('not a database'),
    `sweep databases are listed, a file that is not one with why (${bad.trim()})`);
  await page.click('#sweep-list a:has-text("prices.db")');
  await page.waitForSelector('#sweep-chart .chart[data-drawn="true"]');
  await page.selectOption('#sweep-figure', 'eaa_cyr');
  await page.selectOption('#sweep-year', '2');
  await page.selectOption('#sweep-x', 'cullcost');
  await page.selectOption('#sweep-by', 'interest');
  await page.click('#sweep-plot');
  await page.waitForFunction(() => document.querySelector('#sweep-chart .chart h3')?.textContent.includes('year 2, against cullcost'));
  const table = await page.$$eval('#sweep-chart .chart-data tr', (rows) => rows.map((r) => [...r.cells].map((c) => c.textContent)));
  const legend = await page.$$eval('#sweep-chart .chart-data thead th', (th) => th.map((t) => t.textContent));
  check(table.length === 4 && legend.join('|') === 'cullcost|interest = 0|interest = 0.05',
    `the figure is plotted against one item, a line per value of the other (${legend.join('|')}, ${table.length - 1} rows)`);
  /* the points are the sweep's own figures */
  const [header, ...rows] = fs.readFileSync(path.join(dir, 'prices.csv'), 'utf8').trim().split('\n').map((l) => l.split(','));
  const points = await page.evaluate(async () => (await (await fetch('/api/sweeps/prices.db/points?figure=eaa_cyr&year=2&x=cullcost&by=interest')).json()).points);
  const col = header.indexOf('eaa_cyr_y2');
  const fromCsv = rows.map((r) => [Number(r[0].match(/cullcost=([0-9.]+)/)[1]), Number(r[0].match(/interest=([0-9.]+)/)[1]), Number(r[col])]);
  check(points.length === 6 && fromCsv.every(([c, i, v]) => points.some((p) => p[0] === c && p[1] === i && Math.abs(p[2] - v) < 1e-9 && p[3] === 1)),
    'the plotted points are the sweep\'s figures');
  const refused = await page.evaluate(async () => Promise.all(['/api/sweeps/notes.db', '/api/sweeps/prices.db/points?figure=eaa_cyr&year=2&x=id&by=',
    '/api/sweeps/..%2Fprices.db'].map(async (u) => (await fetch(u)).status)));
  check(refused[0] === 422 && refused[1] === 400 && [400, 404].includes(refused[2]), `a bad database or request gets a message, not a crash (${refused})`);
  await shot(page, 'sweeps');
  await axeCheck('sweeps');
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
    // dialogs: confirm answers as `answer` says, prompt takes `promptText`
    const dialogs = { answer: true, promptText: '', seen: [] };
    page.on('dialog', (d) => {
      dialogs.seen.push(d.message());
      if (d.type() === 'prompt') d.accept(dialogs.promptText);
      else if (dialogs.answer) d.accept();
      else d.dismiss();
    });
    const axeViolations = {};
    async function axeCheck(name) {
      await page.evaluate(axeSource);
      const found = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] })
        .then((r) => r.violations.map((v) => `${v.id} (${v.nodes.length}: ${v.nodes.slice(0, 2).map((n) => n.target.join(' ')).join(' | ')})`)));
      axeViolations[name] = found;
    }
    async function download(click) {
      const [file] = await Promise.all([page.waitForEvent('download'), click()]);
      const where = path.join(outDir, file.suggestedFilename());
      await file.saveAs(where);
      return { name: file.suggestedFilename(), bytes: fs.readFileSync(where) };
    }

    // Herds: two herds from the example.
    await page.goto(url);
    await page.waitForSelector('body[data-ready="true"]');
    const herds = [['holstein.bio', 'holstein_lb.bio'], ['milk_minus_5.bio', 'holstein_lb.bio'], ['holstein_kg.bio', 'holstein_kg.bio'],
      ['spare.bio', 'holstein_lb.bio']];
    for (const [name, example] of herds) {
      await page.goto(`${url}#herds`);
      await page.waitForSelector('#new-example option', { state: 'attached' });
      await page.selectOption('#new-example', example);
      await page.fill('#new-name', name);
      await page.click('#new-create');
      await page.waitForSelector(`#edit-title:has-text("Edit ${name}")`);
    }
    await page.goto(`${url}?token=0123#herds`);
    await page.waitForSelector('#herd-list tbody tr:nth-child(4)');
    check(await page.evaluate(() => location.search === '' && location.hash === '#herds'),
      'a token leaves the address bar once the page has loaded');
    check((await page.locator('#herd-list tbody tr').count()) === 4, 'the herds list shows the new herds');
    check((await page.textContent('#herd-list tbody tr[data-herd="holstein.bio"]')).includes('Holstein lb 2026-12-08'),
      'the herds list shows each herd\u2019s title');
    // Duplicate, rename and delete a herd.
    dialogs.promptText = 'loss.bio';
    await page.click('#herd-list tr[data-herd="spare.bio"] button:has-text("Duplicate")');
    await page.waitForSelector('#herd-list tr[data-herd="loss.bio"]');
    dialogs.promptText = 'spare2.bio';
    await page.click('#herd-list tr[data-herd="spare.bio"] button:has-text("Rename")');
    await page.waitForSelector('#herd-list tr[data-herd="spare2.bio"]');
    check(!fs.existsSync(path.join(dir, 'spare.bio')) && fs.existsSync(path.join(dir, 'spare2.bio')), 'a herd is renamed');
    await page.click('#herd-list tr[data-herd="spare2.bio"] button:has-text("Delete")');
    await page.waitForSelector('#herd-list tr[data-herd="spare2.bio"]', { state: 'detached' });
    check(!fs.existsSync(path.join(dir, 'spare2.bio')) && fs.existsSync(path.join(dir, 'loss.bio')), 'a herd is duplicated and deleted');
    await axeCheck('herds');
    check(await page.evaluate(() => typeof window.uPlot === 'undefined'), 'the chart library waits for the first chart');
    await shot(page, 'herds');

    // Edit: every fault at once, each by its cell; Save refuses to write them.
    await page.goto(`${url}#edit/milk_minus_5.bio`);
    await page.click('#edit-groups button[data-group="reproduction"]');
    await page.fill('input[data-key="20.5"]', '1.7');
    await page.click('#edit-groups button[data-group="prices"]');
    await page.fill('input[data-key="26.30"]', '-3');
    const before = fs.readFileSync(path.join(dir, 'milk_minus_5.bio'), 'utf8');
    await page.click('#edit-save');
    await page.waitForSelector('#edit-messages .bad >> nth=1').catch(async (e) => { console.log(await page.textContent('#edit-messages'), '/', await page.textContent('#status')); throw e; });
    const faultLines = await page.locator('#edit-messages .bad').allTextContents();
    check(faultLines.length >= 2 && faultLines.some((t) => t.includes('item 20')) && faultLines.some((t) => t.includes('item 26')),
      `every fault is listed at once (${faultLines.length})`);
    check(faultLines.some((t) => /Jul 1/.test(t)), 'a fault names its cell by calendar month');
    check(fs.readFileSync(path.join(dir, 'milk_minus_5.bio'), 'utf8') === before, 'Save does not write a herd with faults');
    await page.click('#edit-groups button[data-group="prices"]');
    check(await page.locator('#item-26 input.bad').count() === 1 && /milk/i.test(await page.textContent('#item-26 .fault')),
      'the price at fault is outlined and named');
    await page.click('#edit-groups button[data-group="reproduction"]');
    await page.waitForSelector('#item-20 .fault');
    check((await page.textContent('#item-20 .fault')).includes('item 20 (conception rate)'), 'validation names the item at fault next to it');
    check(await page.locator('input[data-key="20.5"].bad').count() === 1, 'the value at fault is marked');
    await shot(page, 'edit-fault');
    // Leaving with unsaved edits asks first; staying keeps them; Revert forgets them.
    dialogs.answer = false;
    await page.click('#nav a[data-page="herds"]');
    await page.waitForTimeout(200);
    check(dialogs.seen.some((m) => m.includes('unsaved')) && (await page.evaluate(() => location.hash)).startsWith('#edit'),
      'leaving with unsaved edits asks, and staying keeps them');
    dialogs.answer = true;
    await page.click('#edit-revert');
    await page.waitForSelector('#edit-changes:has-text("no changes")');
    check(await page.locator('input.bad').count() === 0, 'Revert goes back to the saved file');
    const herd = await page.evaluate(() => fetch('/api/herds/milk_minus_5.bio').then((r) => r.json()));
    // A scenario in one click: the milk price series down 5 %.
    await page.click('#edit-groups button[data-group="prices"]');
    const heads = await page.locator('#item-26 table.grid tr:first-child th').allTextContents();
    check(heads[0] === 'Jan 1' && heads[12] === 'Jan 2' && heads.length === MONTHS, `the price months carry calendar names (${heads.slice(0, 3)})`);
    const rowLabels = await page.locator('select[data-scenario-target="26"] option').allTextContents();
    await page.selectOption('select[data-scenario-target="26"]', String(rowLabels.findIndex((l) => /milk/i.test(l)) - 1));
    await page.selectOption('select[data-scenario-how="26"]', 'percent');
    await page.fill('input[data-scenario-amount="26"]', '-5');
    await page.click('button[data-scenario-apply="26"]');
    let scaled = true;
    for (let m = 0; m < MONTHS; m++) {
      const key = `${MILK_PRICE_ITEM}.${MONTHS + m}`;
      const want = (Number(herd.values[key]) * PRICE_DROP).toFixed(2);
      if ((await page.inputValue(`input[data-key="${key}"]`)) !== want) scaled = false;
    }
    check(scaled, 'the scenario lowers every milk price by 5 %');
    check((await page.textContent('#edit-changes')).startsWith('24 values'), 'the page counts the changed prices');
    await page.evaluate(() => {
      document.activeElement.blur();
      for (const e of document.querySelectorAll('.item')) e.scrollLeft = 0;
      window.scrollTo(0, 0);
    });
    await shot(page, 'edit');
    await axeCheck('edit');
    await page.click('#edit-run');
    await page.waitForURL(/#runs/);
    await page.goto(`${url}#herds`);
    await page.click('#herd-list tbody tr:has(a:text-is("holstein.bio")) button:has-text("Run")');
    await page.waitForURL(/#runs/);
    await page.waitForSelector('#run-list tbody tr progress');
    await shot(page, 'runs-progress');
    await page.goto(`${url}#edit/loss.bio`);
    await page.click('#edit-groups button[data-group="prices"]');
    await page.selectOption('select[data-scenario-target="26"]', '1');
    await page.selectOption('select[data-scenario-how="26"]', 'value');
    await page.fill('input[data-scenario-amount="26"]', String(LOSS_MILK_PRICE));
    await page.click('button[data-scenario-apply="26"]');
    await page.click('#edit-run');
    await page.waitForURL(/#runs/);
    // The run started from the page opens its results by itself when done.
    await page.waitForURL(/#results\//, { timeout: RUN_TIMEOUT_MS });
    await page.waitForSelector('#results-loss:not([hidden])');
    const lossText = await page.textContent('#results-loss');
    check(lossText.includes('no cow pays her place') && /costs [0-9,]+ money per cow per year/.test(lossText),
      `a loss-making herd is explained with its loss per place (${lossText})`);
    const noCows = await page.$$eval('#charts .chart.no-cows', (c) => c.map((x) => x.textContent));
    check(noCows.length === 3 && noCows[0].includes('No cows') && (await page.locator('#charts .chart').first().getAttribute('data-drawn')) === 'true',
      `an empty herd's charts by month in milk say there are no cows (${noCows.length})`);
    await shot(page, 'results-loss');
    await page.goto(`${url}#runs`);
    await waitRunsDone(page, 3);
    check((await page.locator('#run-list tbody tr[data-state="done"]').count()) === 3, 'the runs are done');
    check(!fs.readdirSync(path.join(dir, 'runs')).some((r) => fs.existsSync(path.join(dir, 'runs', r, 'herd.rpo'))),
      'runs keep no rpo file unless asked');
    await shot(page, 'runs');
    await axeCheck('runs');
    await page.goto(`${url}#runs`);

    // Results: the yearly table and every chart of the milk-price run.
    const saved = fs.readFileSync(path.join(dir, 'milk_minus_5.bio'), 'utf8');
    check(saved.split('\n').length === fs.readFileSync(path.join(source, 'examples/holstein_lb.bio'), 'utf8').split('\n').length,
      'the saved herd keeps its lines');
    await page.click('#run-list tbody tr:has-text("milk_minus_5.bio") a:has-text("Results")');
    await page.waitForSelector('#yearly tbody tr');
    const figures = await page.locator('#yearly tbody tr').count();
    check(figures > 50, `the yearly table has its figures (${figures})`);
    check((await page.textContent('#yearly')).includes('milksales_cyr'), 'the yearly table keeps the model\u2019s names beside');
    const labels = await page.$$eval('#yearly tbody tr[data-figure]', (rows) => rows.map((r) => ({
      plain: r.querySelector('.plain').textContent, unit: r.querySelector('td.unit').textContent, help: r.title,
      name: r.dataset.figure, cells: [...r.querySelectorAll('td.num')].map((c) => c.textContent) })));
    const unnamed = labels.filter((l) => !l.plain || l.plain === l.name || !l.unit || !l.help);
    check(unnamed.length === 0, `every yearly figure has a plain name, unit and help (${unnamed.map((l) => l.name).join(' ')})`);
    check(labels.every((l) => l.cells.length === 1), 'a steady state shows one column');
    check(!labels.some((l) => l.unit.includes('kg')) && labels.some((l) => l.unit.includes('lb')), 'a herd in pounds shows lb');
    check(labels.every((l) => !/^0\.0+$/.test(l.cells[0])) && labels.some((l) => l.cells[0].endsWith('%')), 'zeros read 0, rates read in %');
    const groupsShown = await page.locator('#yearly tr.group').allTextContents();
    check(groupsShown.join('|') === 'Money|Milk|Herd and culling|Reproduction', `the figures are grouped (${groupsShown})`);
    const csv = await download(() => page.click('#yearly-csv'));
    const csvLines = csv.bytes.toString().trim().split('\n');
    check(csv.name.startsWith('milk_minus_5') && csvLines[0].startsWith('figure,name,unit,group') && csvLines.length === labels.length + 1,
      `the yearly table downloads as CSV (${csv.name})`);
    const png = await download(() => page.click('#charts .chart h3 button >> nth=0'));
    check(png.bytes.subarray(1, 4).toString() === 'PNG' && png.bytes.length > 1000, `a chart downloads as PNG (${png.name})`);
    // A simulation of the run: the fan of cash per cow.
    await page.fill('#sim-cows', '20');
    await page.fill('#sim-years', '3');
    await page.fill('#sim-replicates', '20');
    await page.click('#sim-go');
    await page.waitForSelector('#sim-chart .chart[data-drawn="true"] canvas', { timeout: RUN_TIMEOUT_MS });
    const fan = await page.$$eval('#sim-chart table.chart-data tbody tr', (rows) => rows.map((r) => [...r.children].map((c) => Number(c.textContent.replace(/,/g, '')))));
    check(fan.length === 3 && fan.every(([, mean, p5, p95]) => p5 <= mean && mean <= p95),
      `the simulation draws mean and 5-95 % band of cash per cow by year (${fan.length} years)`);
    await page.locator('#sim-chart').scrollIntoViewIfNeeded();
    await shot(page, 'results-simulation');
    await page.emulateMedia({ media: 'print' });
    const pdf = await page.pdf({ format: 'A4', printBackground: true });
    fs.writeFileSync(path.join(outDir, 'results.pdf'), pdf);
    await page.setViewportSize({ width: 794, height: 1123 });
    await page.screenshot({ path: path.join(outDir, 'results-print.png'), fullPage: true });
    await page.setViewportSize({ width: 1360, height: 900 });
    await page.emulateMedia({ media: 'screen' });
    const pages = (pdf.toString('latin1').match(/\/Type\s*\/Page[^s]/g) || []).length;
    check(pages >= 1 && pages <= A4_PAGES, `the printed results fit ${A4_PAGES} A4 pages (${pages})`);
    await axeCheck('results');
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
    const milk = await page.locator('#compare-table tbody tr[data-figure="milksales_cyr"] td').allTextContents();
    const pct = Number(milk[4]);
    check(pct < -3 && pct > -7, `milk sales fall by about 5 % (${milk[4]} %)`);
    check(await page.locator('#compare-table tr[data-figure="milksales_cyr"] td.bad').count() >= 2, 'less milk sold is coloured bad');
    const ccsv = await download(() => page.click('#compare-csv'));
    check(ccsv.bytes.toString().split('\n')[0].startsWith('figure,name,unit,'), `the comparison downloads as CSV (${ccsv.name})`);
    await axeCheck('compare');
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
      const header = await page.$$eval('#cows-table thead th', (ths) => ths.map((t) => t.dataset.column));
      const rankCol = header.indexOf('rank');
      check((await page.textContent('#cows-table thead')).includes('months pregnant'), 'the cow list has plain column names');
      const ranks = await page.locator(`#cows-table tbody tr td:nth-child(${rankCol + 1})`).allTextContents();
      const valued = ranks.filter((r) => r !== '').map(Number);
      check(valued.length > 0 && valued.every((r, i) => r === i + 1), 'the list is in rank order, 1 first');
      const rpoCol = header.indexOf('rpo');
      await page.click(`#cows-table thead th:nth-child(${rpoCol + 1}) button`);
      await page.click(`#cows-table thead th:nth-child(${rpoCol + 1}) button`);
      const rpos = (await page.locator(`#cows-table tbody tr td:nth-child(${rpoCol + 1})`).allTextContents())
        .filter((v) => v !== '').map((v) => Number(v.replace(/,/g, '')));
      check(rpos.every((v, i) => i === 0 || rpos[i - 1] >= v), 'a click on a column sorts the table by it');
      check(await page.isVisible('#cows-download'), 'the ranked list can be downloaded');
      const ranked = await download(() => page.click('#cows-download'));
      check(ranked.name === 'holstein_kg-cows-ranked.csv' || ranked.name.endsWith('-cows-ranked.csv'), `the download is named after the herd (${ranked.name})`);
      await shot(page, 'cows');
      await axeCheck('cows');
      const decisionCol = header.indexOf('decision');
      for (const [view, decision] of [['cull', 'replace'], ['breed', 'breed']]) {
        await page.click(`#cows-views button[data-view="${view}"]`);
        const ds = await page.locator(`#cows-table tbody tr td:nth-child(${decisionCol + 1})`).allTextContents();
        check(ds.every((d) => d === decision), `the ${view} list holds only cows to ${decision} (${ds.length})`);
        await shot(page, `cows-${view}`);
      }
    }
    // Calibrate: a real herd's records to a saved herd (browser_calibrate.mjs).
    await calibratePage({ page, url, dir, outDir, check, axeCheck });
    // Runs: one deleted, then all but the newest.
    await page.goto(`${url}#runs`);
    await page.waitForSelector('#run-list tbody tr');
    const runCount = await page.locator('#run-list tbody tr').count();
    await page.click('#run-list tbody tr:last-child button:has-text("Delete")');
    await page.waitForFunction((n) => document.querySelectorAll('#run-list tbody tr').length === n - 1, runCount);
    await page.fill('#runs-keep', '1');
    await page.click('#runs-prune');
    await page.waitForFunction(() => document.querySelectorAll('#run-list tbody tr').length === 1)
      .catch(async (e) => { console.log(await page.textContent('#run-list'), '/', await page.textContent('#status')); throw e; });
    check(fs.readdirSync(path.join(dir, 'runs')).length === 1, 'runs are deleted singly and all but the newest');
    await sweepView(page, url, dir, axeCheck);
    {
      const bad = Object.entries(axeViolations).filter(([, v]) => v.length);
      check(Object.keys(axeViolations).length >= 5 && bad.length === 0,
        `axe-core finds no violation on any page${bad.length ? ': ' + bad.map(([p, v]) => `${p}: ${v.join(', ')}`).join('; ') : ''}`);
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
