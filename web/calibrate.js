/*
 * calibrate.js -- the Calibrate view: a herd's own records to its bio file.
 *
 * The record files go up into a record set of the herds folder; the page
 * reads back each file's header and the distinct values of a column to
 * offer the mapping of fields and exit codes, starts `morvenda calibrate`
 * as a run, and shows its report: the records against the calibrated herd
 * (charts with their data as tables), the observed figures beside the
 * model's, every estimate, and the rows the program set aside.  Text from
 * the files is put on the page as text only.  Uses app.js's helpers.
 */
'use strict';

/* The record tables, their fields, and the headers a herd program
   commonly gives them (the first found is offered). */
const CAL_TABLES = [
  { name: 'tests', label: 'Test days', required: true, guess: ['test', 'rec', 'control'],
    fields: { herd: ['herd', 'herd_id'], cow: ['cow', 'anim_id', 'cow_id', 'animal'], date: ['date', 'ctrl_date', 'test_date'],
      lact: ['lact', 'parity', 'lactation'], calving: ['calving', 'calv_date', 'calving_date'], milk: ['milk', 'milk_kg', 'yield'] } },
  { name: 'inseminations', label: 'Inseminations', required: true, guess: ['insem', 'ai', 'service'],
    fields: { herd: ['herd', 'herd_id'], cow: ['cow', 'cow_id', 'anim_id'], date: ['date', 'ai_date', 'service_date'] } },
  { name: 'calvings', label: 'Calvings', required: false, guess: ['calv'],
    fields: { herd: ['herd', 'herd_id'], cow: ['cow', 'cow_id', 'anim_id'], date: ['date', 'calv_date', 'calving_date'], lact: ['lact', 'parity'] } },
  { name: 'pregnancy_checks', label: 'Pregnancy checks', required: false, guess: ['preg', 'check'],
    fields: { herd: ['herd', 'herd_id'], cow: ['cow', 'cow_id', 'anim_id'], date: ['date', 'check_date'], result: ['result', 'pregnant'] } },
  { name: 'exits', label: 'Stays and exits', required: true, guess: ['exit', 'mvt', 'move', 'stay'],
    fields: { herd: ['herd', 'herd_id'], cow: ['cow', 'anim_id', 'cow_id'], entry: ['entry', 'date_in'], entry_reason: ['entry_reason', 'cause_in'],
      date: ['date', 'date_out', 'exit_date'], reason: ['reason', 'caus_out', 'cause_out', 'exit_reason'] } },
  { name: 'cows', label: 'Cows', required: false, guess: ['cow', 'anim'],
    fields: { cow: ['cow', 'anim_id', 'cow_id'], birth: ['birth', 'birth_date'] } },
];
const EXIT_KINDS = ['died', 'culled-involuntary', 'culled-voluntary', 'culled', 'sold', 'moved', 'ignore'];
const CAL_POLL_MS = 400;
const MODEL_MONTH_DAYS = 30.4;

const cal = { heads: {}, report: null, runId: null };

/* ---- record sets -------------------------------------------------------- */

async function showCalibrate(runId) {
  if (!cal.built) buildCalibrateForm();
  await Promise.all([refreshRecordSets(), refreshBases()]);
  if (runId && runId !== cal.runId) await showCalibration(runId);
}

function buildCalibrateForm() {
  cal.built = true;
  $('cal-tables').replaceChildren(...CAL_TABLES.map((t) => {
    const file = el('select', { id: `cal-file-${t.name}`, onchange: () => loadHead(t.name).catch((e) => say(e.message)) });
    const fields = Object.keys(t.fields).map((f) => el('label', {}, `${f} `,
      el('select', { id: `cal-col-${t.name}-${f}`, onchange: () => columnChanged(t.name, f).catch((e) => say(e.message)) })));
    return el('fieldset', { class: 'cal-table' }, el('legend', { text: `${t.label}${t.required ? '' : ' (if kept)'}` }),
      el('label', {}, 'File ', file), ...fields);
  }));
  $('cal-upload').addEventListener('click', guard(uploadRecords));
  $('cal-sets').addEventListener('change', guard(() => pickSet($('cal-sets').value)));
  $('cal-go').addEventListener('click', guard(calibrate));
  $('cal-save').addEventListener('click', guard(saveCalibrated));
}

async function refreshRecordSets(pick) {
  cal.sets = await api('/api/records');
  const select = $('cal-sets');
  const keep = pick || select.value || (cal.sets[0] && cal.sets[0].name) || '';
  select.replaceChildren(el('option', { value: '', text: cal.sets.length ? '(choose)' : '(none uploaded)' }),
    ...cal.sets.map((s) => el('option', { value: s.name, text: `${s.name} (${s.files.length} files)` })));
  if (cal.sets.some((s) => s.name === keep)) {
    select.value = keep;
    if (keep !== cal.set) await pickSet(keep);
  }
}

async function refreshBases() {
  const herds = await api('/api/herds');
  const select = $('cal-base');
  const keep = select.value;
  select.replaceChildren(...herds.map((h) => el('option', { value: h.name, text: h.name })));
  if (herds.some((h) => h.name === keep)) select.value = keep;
}

async function uploadRecords() {
  const set = $('cal-set').value.trim();
  const files = [...$('cal-files').files];
  if (!set || files.length === 0) throw new Error('name the record set and choose its CSV files');
  for (const [k, f] of files.entries()) {
    say(`uploading ${f.name} (${k + 1} of ${files.length})`);
    await api(`/api/records/${encodeURIComponent(set)}/files`, { method: 'POST', body: { name: f.name, text: await f.text() } });
  }
  say(`${files.length} file${files.length === 1 ? '' : 's'} uploaded into ${set}`);
  cal.set = null;
  await refreshRecordSets(set);
}

/* Offers the set's files for each table, guessing from their names. */
async function pickSet(name) {
  cal.set = name;
  cal.heads = {};
  const set = (cal.sets || []).find((s) => s.name === name);
  const files = set ? set.files.map((f) => f.name) : [];
  $('cal-set-files').replaceChildren(...(set ? set.files : []).map((f) => el('li', { text: `${f.name}: ${fmt(f.size / 1024, 0)} kB` })));
  for (const t of CAL_TABLES) {
    const select = $(`cal-file-${t.name}`);
    select.replaceChildren(el('option', { value: '', text: t.required ? '(choose)' : '(not kept)' }),
      ...files.map((f) => el('option', { value: f, text: f })));
    const lower = (f) => f.toLowerCase();
    select.value = files.find((f) => lower(f).replace(/\.csv$/, '') === t.name) ||
      files.find((f) => t.guess.some((g) => lower(f).startsWith(g))) || '';
  }
  for (const t of CAL_TABLES) await loadHead(t.name);
}

async function head(file, column = '') {
  const q = column ? `?column=${encodeURIComponent(column)}` : '';
  return api(`/api/records/${encodeURIComponent(cal.set)}/files/${encodeURIComponent(file)}${q}`);
}

/* A table's file chosen: its header fills the field choices. */
async function loadHead(table) {
  const t = CAL_TABLES.find((x) => x.name === table);
  const file = $(`cal-file-${table}`).value;
  const header = file ? (await head(file)).header : [];
  cal.heads[table] = header;
  for (const [field, names] of Object.entries(t.fields)) {
    const select = $(`cal-col-${table}-${field}`);
    select.replaceChildren(el('option', { value: '', text: '(none)' }), ...header.map((h) => el('option', { value: h, text: h })));
    select.value = names.find((n) => header.includes(n)) || '';
  }
  await columnChanged(table, table === 'exits' ? 'reason' : 'herd');
}

async function columnChanged(table, field) {
  if (table === 'exits' && field === 'reason') await loadExitCodes();
  if (table === 'tests' && field === 'herd') await loadHerds();
}

async function loadExitCodes() {
  const file = $('cal-file-exits').value, column = $('cal-col-exits-reason').value;
  const box = $('cal-codes');
  if (!file || !column) { box.replaceChildren(el('span', { class: 'hint', text: 'choose the exits file and its reason column' })); return; }
  const { values, more_values: more } = await head(file, column);
  box.replaceChildren(...values.map((code) => el('label', {}, `${code} `,
    el('select', { 'data-code': code }, el('option', { value: '', text: '(choose)' }), ...EXIT_KINDS.map((k) => el('option', { value: k, text: k }))))));
  if (more) box.append(el('span', { class: 'hint', text: 'more codes than shown: map the rest in the exits file' }));
}

async function loadHerds() {
  const file = $('cal-file-tests').value, column = $('cal-col-tests-herd').value;
  const herds = file && column ? (await head(file, column)).values : [];
  $('cal-herd').replaceChildren(el('option', { value: '', text: herds.length ? '(the only one)' : '(no herd column)' }),
    ...herds.map((h) => el('option', { value: h, text: h })));
  if (herds.length > 1) $('cal-herd').value = herds[0];
}

/* ---- the calibration ---------------------------------------------------- */

function calibrationRequest() {
  const files = {}, columns = {}, reasons = {};
  for (const t of CAL_TABLES) {
    const file = $(`cal-file-${t.name}`).value;
    if (!file) continue;
    files[t.name] = file;
    for (const field of Object.keys(t.fields)) {
      const header = $(`cal-col-${t.name}-${field}`).value;
      if (header) columns[`${t.name}.${field}`] = header;
    }
  }
  for (const s of $('cal-codes').querySelectorAll('select[data-code]')) if (s.value) reasons[s.dataset.code] = s.value;
  return {
    records: cal.set || '', base: $('cal-base').value, files, columns, exit_reasons: reasons,
    herd: $('cal-herd').value, involuntary_share: Number($('cal-share').value), gestation: $('cal-gestation').value.trim(),
  };
}

async function calibrate() {
  const unmapped = [...$('cal-codes').querySelectorAll('select[data-code]')].filter((s) => !s.value).map((s) => s.dataset.code);
  showMessages($('cal-messages'), unmapped.length ? [['bad', `exit codes without a kind: ${unmapped.join(', ')} (the program refuses them if they occur)`]] : []);
  const { id } = await api('/api/calibrations', { method: 'POST', body: calibrationRequest() });
  $('cal-progress').hidden = false;
  say(`calibration ${id} started`);
  let run;
  do {
    await new Promise((r) => setTimeout(r, CAL_POLL_MS));
    run = await api(`/api/runs/${id}`);
  } while (run.state === 'queued' || run.state === 'running');
  $('cal-progress').hidden = true;
  location.hash = `#calibrate/${id}`;
}

/* A finished calibration's report, or what the program said was wrong. */
async function showCalibration(id) {
  cal.runId = id;
  const run = await api(`/api/runs/${encodeURIComponent(id)}`);
  if (run.state !== 'done') {
    let out = '';
    try { out = await api(`/api/runs/${encodeURIComponent(id)}/files/console.txt`); } catch (e) { out = run.console_tail || ''; }
    const lines = String(out).split('\n').filter((l) => l.trim());
    showMessages($('cal-messages'), [['bad', `the calibration ${run.state}: ${run.message}`], ...lines.map((l) => ['bad', l])]);
    $('cal-report').hidden = true;
    $('cal-messages').scrollIntoView({ block: 'center' });
    say('calibration failed');
    return;
  }
  const text = await api(`/api/runs/${encodeURIComponent(id)}/files/calibration.json`);
  cal.report = typeof text === 'string' ? JSON.parse(text) : text;
  const r = cal.report;
  const set = r.rows_set_aside || 0;
  showMessages($('cal-messages'), [['good', `herd ${r.herd}: ${r.estimates.filter((e) => e.used).length} of ${r.estimates.length} values calibrated from ${r.rows_read} rows`],
    ...(set ? [['bad', `${set} of ${r.rows_read} rows set aside (listed below, never used)`]] : [])]);
  if (!$('cal-save-name').value) $('cal-save-name').value = `${String(r.herd).replace(/[^A-Za-z0-9._-]/g, '_') || 'calibrated'}.bio`;
  $('cal-report').hidden = false;
  drawComparison(r);
  drawEstimates(r);
  $('cal-set-aside').replaceChildren(...(r.set_aside || []).map((l) => el('li', { text: l })));
  $('cal-messages').scrollIntoView({ block: 'start' });
  await drawCalibrationCharts(r.charts || {});
  say(`calibration ${id} done`);
}

async function saveCalibrated() {
  const name = $('cal-save-name').value.trim();
  const save = (overwrite) => api(`/api/calibrations/${encodeURIComponent(cal.runId)}/save`, { method: 'POST', body: { name, overwrite } });
  try {
    await save(false);
  } catch (e) {
    if (!/exists already/.test(e.message) || !window.confirm(`${name} exists already. Replace it?`)) throw e;
    await save(true);
  }
  say(`saved as ${name}: it is in the herd list`);
  await refreshBases();
}

/* ---- the report --------------------------------------------------------- */

const pct = (v) => (v === null || v === undefined ? '' : `${fmt(100 * v, 1)} %`);
const whole = (v) => (v === null || v === undefined ? '' : fmt(v, 0));

function drawComparison(r) {
  const c = (r.charts && r.charts.checks) || {}, o = r.observed || {}, m = r.model || {};
  const check = 'checks the calibration: should agree';
  const finding = "the adviser's finding: the herd's practice against the optimal policy";
  /* Later lactations hold the cows the herd chose to keep: their test days
  ** sit above the curve of the average cow the calibration stands for. */
  const kept = 'checks the calibration: the kept cows may milk a few % above the average cow';
  const pick = (k, side) => (c[k] ? c[k][side] : null);
  const rows = [
    ['10-month milk, lactation 1', pick('milk_10m_1', 'observed'), pick('milk_10m_1', 'calibrated'), whole, check],
    ['10-month milk, lactation 2', pick('milk_10m_2', 'observed'), pick('milk_10m_2', 'calibrated'), whole, kept],
    ['10-month milk, lactation 3 and later', pick('milk_10m_3+', 'observed'), pick('milk_10m_3+', 'calibrated'), whole, kept],
    ['Conception per service', pick('conception', 'observed'), pick('conception', 'calibrated'), pct, check],
    ['Heat detection', pick('heat_detection', 'observed'), pick('heat_detection', 'calibrated'), pct, check],
    ['Calving interval (days)', o.calving_interval_days, m.calving_interval_days, whole, finding],
    ['Days open', o.days_open, m.days_open, whole, finding],
    ['21-day pregnancy rate', o.pregnancy_rate_21d, m.pregnancy_rate_21d, pct, finding],
    ['Cull rate per cow-year', o.cull_rate, m.cull_rate, pct, finding],
    ['Death rate per cow-year', o.death_rate, null, pct, 'the herd\u2019s own (the model gives none)'],
    ['Age at exit (years)', o.age_at_exit_years, null, (v) => fmt(v, 1), 'the herd\u2019s own (the model gives none)'],
  ];
  const table = $('cal-compare');
  table.tHead.replaceChildren(el('tr', {}, ...['Figure', "Herd's records", 'Calibrated herd (model)', 'What it tells'].map((h) => el('th', { scope: 'col', text: h }))));
  table.tBodies[0].replaceChildren(...rows.map(([name, seen, model, f, kind]) => el('tr', { class: kind === check || kind === kept ? 'check' : 'finding' },
    el('th', { scope: 'row', text: name }), el('td', { class: 'num', text: f(seen) }), el('td', { class: 'num', text: f(model) }), el('td', { text: kind }))));
}

function drawEstimates(r) {
  const table = $('cal-estimates');
  table.tHead.replaceChildren(el('tr', {}, ...['Item', 'Name', 'Index', 'Value', 'n', '95 % interval', 'Used', 'Why not'].map((h) => el('th', { scope: 'col', text: h }))));
  table.tBodies[0].replaceChildren(...r.estimates.map((e) => el('tr', {},
    el('td', { class: 'num', text: e.item }), el('td', { text: e.name }), el('td', { text: e.index }),
    el('td', { class: 'num', text: fmt(e.value, 3) }), el('td', { class: 'num', text: fmt(e.n, 0) }),
    el('td', { class: 'num', text: `${fmt(e.lo, 3)} \u2013 ${fmt(e.hi, 3)}` }), el('td', { text: e.used ? 'yes' : 'no' }), el('td', { text: e.why }))));
}

async function drawCalibrationCharts(ch) {
  await loadCharts();
  const box = $('cal-charts');
  box.replaceChildren();
  for (const g of ch.milk || []) {
    chart(box, `Milk of lactation ${g.group}: test days against the fitted curve`, g.mim, [
      { label: 'test days', values: g.n, bars: true },
      { label: 'observed mean per day', values: g.observed },
      { label: 'calibrated curve', values: g.fitted },
    ], { xlabel: 'month in milk', barlabel: 'test days', ylabel: 'milk per day' });
  }
  const rates = (title, rows, xlabel, byMonth) => {
    if (!rows) return;
    chart(box, title, rows.map((r, k) => (byMonth ? k + 1 : r.at)), [
      { label: 'observed', values: rows.map((r) => r.observed) },
      { label: 'lower 95 %', values: rows.map((r) => r.lo), colour: '#8a8a8a' },
      { label: 'upper 95 %', values: rows.map((r) => r.hi), colour: '#8a8a8a' },
      { label: 'calibrated', values: rows.map((r) => r.calibrated) },
    ], { xlabel, ylabel: 'rate' });
  };
  for (const [key, name] of [['conception', 'Conception per service'], ['heat_detection', 'Heat detection']]) {
    const c = ch[key] || {};
    rates(`${name} by month in milk`, c.by_month_in_milk, 'month in milk', false);
    rates(`${name} by calendar month`, c.by_calendar_month, 'calendar month (1 = January)', true);
  }
  if (ch.survival) {
    const s = ch.survival;
    chart(box, 'Cows still in the herd since first calving', s.months, [
      { label: `observed (${s.cows} cows)`, values: s.observed },
      ...(s.model ? [{ label: "at the model's cull rate", values: s.model }] : []),
    ], { xlabel: 'months since first calving', ylabel: 'share still in the herd' });
  }
}

window.showCalibrate = showCalibrate;
