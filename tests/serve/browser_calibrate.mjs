// browser_calibrate.mjs -- the Calibrate page in a real browser.
//
// Called by browser_test.mjs with its page and checks; run alone
// (node tests/serve/browser_calibrate.mjs MORVENDA_BINARY OUTPUT_DIR) it
// starts its own server and browser.  Uploads the shipped real herds'
// records, maps their columns and exit codes, calibrates one herd from the
// kg example, checks that the fit's charts are drawn with their tables,
// that the observed/model table marks its check rows, saves the herd and
// finds it in the herd list; axe-core judges the page, screenshots go to
// OUTPUT_DIR.
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const source = path.resolve(here, '../..');
const RECORDS = path.join(source, 'examples/herd-records');
const HERD = 'FR000019';
/* the shipped herds' exit codes (see examples/herd-records/README.md) */
const EXIT_KINDS = { B: 'culled', M: 'died', E: 'sold', H: 'moved', C: 'ignore' };
const CALIBRATE_TIMEOUT_MS = 300000;
/* milk charts (3), conception and heat detection by two margins (4), survival */
const CHARTS = 8;

export async function calibratePage({ page, url, dir, outDir, check, axeCheck }) {
  await page.goto(`${url}#calibrate`);
  await page.waitForSelector('#page-calibrate.active');
  await page.fill('#cal-set', 'french');
  const files = fs.readdirSync(RECORDS).filter((f) => f.endsWith('.csv')).map((f) => path.join(RECORDS, f));
  await page.setInputFiles('#cal-files', files);
  await page.click('#cal-upload');
  await page.waitForSelector('#cal-set-files li:nth-child(4)');
  check(fs.readdirSync(path.join(dir, 'records', 'french')).length === files.length, 'the record files are uploaded into their set');
  // the mapping: files and columns guessed from their names, checked; codes chosen
  await page.waitForSelector('#cal-codes select[data-code="B"]');
  const mapped = await page.evaluate(() => ['tests', 'inseminations', 'exits', 'cows'].map((t) => document.getElementById(`cal-file-${t}`).value));
  check(mapped.join(',') === 'rec.csv,ai.csv,mvt.csv,anim.csv', `each table's file is offered from its name (${mapped})`);
  check(await page.inputValue('#cal-col-tests-calving') === 'calv_date' && await page.inputValue('#cal-col-exits-reason') === 'caus_out',
    'the columns are offered from the files\u2019 headers');
  await page.selectOption('#cal-col-tests-lact', 'parity');
  for (const [code, kind] of Object.entries(EXIT_KINDS)) await page.selectOption(`#cal-codes select[data-code="${code}"]`, kind);
  await page.selectOption('#cal-herd', HERD);
  await page.selectOption('#cal-base', 'holstein_kg.bio');
  await page.screenshot({ path: path.join(outDir, 'calibrate-mapping.png'), fullPage: true });
  await page.click('#cal-go');
  await page.waitForSelector('#cal-report:not([hidden]) #cal-charts figure[data-drawn="true"]', { timeout: CALIBRATE_TIMEOUT_MS })
    .catch(async (e) => { console.log(await page.textContent('#cal-messages'), await page.textContent('#status')); throw e; });
  await page.waitForFunction((n) => document.querySelectorAll('#cal-charts figure[data-drawn="true"]').length >= n, CHARTS);
  check(await page.locator('#cal-charts figure[data-drawn="true"] canvas').count() >= CHARTS, 'the fit\u2019s charts are drawn');
  check(await page.locator('#cal-charts table.chart-data').count() >= CHARTS, 'each chart has its data as a table');
  const checks = await page.locator('#cal-compare tr.check td:nth-child(2)').allTextContents();
  check(checks.length === 5 && checks.every((t) => t !== ''), `the rows that check the calibration show observed values (${checks})`);
  check((await page.locator('#cal-compare tr.finding').count()) >= 4, 'the adviser\u2019s findings are marked apart');
  check((await page.locator('#cal-estimates tbody tr').count()) > 100, 'the estimates table lists the estimates');
  await page.screenshot({ path: path.join(outDir, 'calibrate.png'), fullPage: false });
  await page.screenshot({ path: path.join(outDir, 'calibrate-full.png'), fullPage: true });
  await axeCheck('calibrate');
  await page.fill('#cal-save-name', 'fr19.bio');
  await page.click('#cal-save');
  await page.waitForFunction(() => /saved as fr19\.bio/.test(document.getElementById('status').textContent));
  await page.goto(`${url}#herds`);
  await page.waitForSelector('#herd-list tr[data-herd="fr19.bio"]');
  check(fs.existsSync(path.join(dir, 'fr19.bio')), 'the calibrated herd is saved and appears in the herd list');
  // a mapping the program refuses is shown plainly: a slaughter code left without a kind
  await page.goto(`${url}#calibrate`);
  await page.waitForSelector('#cal-codes select[data-code="B"]');
  await page.selectOption('#cal-codes select[data-code="B"]', '');
  await page.selectOption('#cal-herd', HERD);
  await page.selectOption('#cal-base', 'holstein_kg.bio');
  await page.click('#cal-go');
  await page.waitForFunction(() => /failed/.test(document.getElementById('status').textContent), null, { timeout: CALIBRATE_TIMEOUT_MS });
  check(/exit code 'B' has no kind/.test(await page.textContent('#cal-messages')), 'an unmapped exit code is named in the messages');
  await page.screenshot({ path: path.join(outDir, 'calibrate-error.png'), fullPage: false });
}

async function alone() {
  const require = createRequire(path.join(source, 'web/package.json'));
  const { chromium } = require('playwright-core');
  const axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
  const [binary, outDir] = process.argv.slice(2);
  fs.mkdirSync(outDir, { recursive: true });
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'morvenda-calibrate-'));
  fs.copyFileSync(path.join(source, 'examples/holstein_kg.bio'), path.join(dir, 'holstein_kg.bio'));
  const child = spawn(binary, ['serve', '--dir', dir, '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
  const url = await new Promise((resolve) => {
    let out = '';
    child.stdout.on('data', (c) => { out += c; const m = out.match(/open (http:\/\/\S+)/); if (m) resolve(m[1]); });
  });
  const browser = await chromium.launch({ executablePath: process.env.MORVENDA_CHROMIUM || '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--disable-gpu'] });
  let passed = 0, failed = 0;
  const check = (ok, what) => { if (ok) passed++; else failed++; console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`); };
  try {
    const page = await browser.newPage({ viewport: { width: 1360, height: 900 } });
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    const axeCheck = async (name) => {
      await page.evaluate(axeSource);
      const found = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] })
        .then((r) => r.violations.map((v) => `${v.id} (${v.nodes.slice(0, 2).map((n) => n.target.join(' ')).join(' | ')})`)));
      check(found.length === 0, `axe-core on ${name}: ${found.join('; ')}`);
    };
    await calibratePage({ page, url, dir, outDir, check, axeCheck });
    check(errors.length === 0, `no script errors: ${errors.join('; ')}`);
  } catch (e) {
    failed++;
    console.log(`FAIL ${e.stack || e.message}`);
  } finally {
    await browser.close();
    child.kill('SIGTERM');
    fs.rmSync(dir, { recursive: true, force: true });
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) alone();
