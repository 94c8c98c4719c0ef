/*
 * app.js -- the Morvenda workbench page.
 *
 * One page, six views chosen by the address's hash: herds, edit, runs,
 * results, compare and cows.  Everything read from a file is put on the
 * page as text (textContent, input values), never as markup.
 */
'use strict';

const MONTHS = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
const GROUPS = ['milk', 'reproduction', 'culling', 'prices', 'costs', 'model'];
const POLL_MS = 400;
const CHART_WIDTH = 420;
const CHART_HEIGHT = 240;
const SERIES_COLOURS = ['#1f6f8b', '#d9822b', '#2e8b57', '#8e44ad', '#b3261e', '#6d7b8d'];

const state = {
  schema: null,
  herd: null,          /* {name, values} as opened */
  changes: {},         /* "item.index" -> value differing from the file */
  group: 'milk',
  faults: [],
  runs: [],
  pollTimer: null,
};

/* ---- small helpers ------------------------------------------------------ */

const $ = (id) => document.getElementById(id);

function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value);
  }
  for (const child of children) {
    if (child === null || child === undefined) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

async function api(path, options = {}) {
  const init = { method: options.method || 'GET', headers: {} };
  /* every change goes as JSON, a bodiless one (Cancel) too: the server
     takes no other kind from a page */
  if (init.method !== 'GET') {
    init.body = JSON.stringify(options.body === undefined ? {} : options.body);
    init.headers['Content-Type'] = 'application/json';
  }
  /* a list the page asked for while loading is taken once */
  const early = init.method === 'GET' && window.EARLY ? window.EARLY[path] : undefined;
  if (early) delete window.EARLY[path];
  const res = await (early || fetch(path, init));
  const type = res.headers.get('Content-Type') || '';
  const data = type.includes('json') ? await res.json() : await res.text();
  if (!res.ok) throw new Error((data && data.error) || `${res.status} ${res.statusText}`);
  return data;
}

function say(text) { $('status').textContent = text; }

function fmt(v, digits = 2) {
  if (v === null || v === undefined || Number.isNaN(v)) return '';
  const a = Math.abs(v);
  const d = a >= 1000 ? 0 : a >= 100 ? 1 : a >= 1 ? digits : 4;
  return v.toLocaleString('en-US', { minimumFractionDigits: d, maximumFractionDigits: d });
}

function showMessages(box, list) {
  box.replaceChildren(...list.map(([kind, text]) => el('div', { class: kind, text })));
}

/* ---- navigation --------------------------------------------------------- */

function route() {
  const [page, arg] = (location.hash.slice(1) || 'herds').split('/').map(decodeURIComponent);
  for (const section of document.querySelectorAll('.page')) section.classList.toggle('active', section.id === `page-${page}`);
  for (const link of document.querySelectorAll('#nav a')) link.classList.toggle('active', link.dataset.page === page);
  const views = { herds: showHerds, edit: showEdit, runs: showRuns, results: showResults, compare: showCompare, cows: showCows };
  (views[page] || showHerds)(arg).catch((e) => say(e.message));
}

/* ---- herds -------------------------------------------------------------- */

async function showHerds() {
  const [herds, examples] = await Promise.all([api('/api/herds'), api('/api/examples')]);
  const body = $('herd-list').tBodies[0];
  body.replaceChildren(...herds.map((h) => el('tr', {},
    el('td', {}, el('a', { href: `#edit/${encodeURIComponent(h.name)}`, text: h.name })),
    el('td', { class: 'num', text: `${(h.size / 1024).toFixed(1)} kB` }),
    el('td', {},
      el('button', { text: 'Run', onclick: () => startRun(h.name) }), ' ',
      el('a', { href: `/api/herds/${encodeURIComponent(h.name)}/download`, text: 'Download' })))));
  if (herds.length === 0) body.append(el('tr', {}, el('td', { colspan: 3, class: 'hint', text: 'No bio files here yet: make one from an example.' })));
  $('new-example').replaceChildren(...examples.map((name) => el('option', { value: name, text: name })));
}

async function createHerd() {
  const name = $('new-name').value.trim();
  await api('/api/herds', { method: 'POST', body: { name, example: $('new-example').value } });
  location.hash = `#edit/${encodeURIComponent(name)}`;
}

async function uploadHerd() {
  const file = $('upload-file').files[0];
  if (!file) throw new Error('choose a bio file first');
  const name = $('upload-name').value.trim() || file.name;
  await api('/api/herds', { method: 'POST', body: { name, text: await file.text() } });
  location.hash = `#edit/${encodeURIComponent(name)}`;
}

/* ---- edit --------------------------------------------------------------- */

async function showEdit(name) {
  if (!name && state.herd) name = state.herd.name;
  if (!name) { $('edit-title').textContent = 'Edit: open a herd on the Herds page'; $('edit-items').replaceChildren(); return; }
  if (!state.schema) state.schema = await api('/api/schema');
  if (!state.herd || state.herd.name !== name) {
    state.herd = await api(`/api/herds/${encodeURIComponent(name)}`);
    state.changes = {};
    state.faults = [];
    showMessages($('edit-messages'), state.herd.complete ? [] :
      [['bad', `The file ends before item ${state.herd.missing_item}: its values and those after it are missing.`]]);
  }
  $('edit-title').textContent = `Edit ${name}`;
  renderGroups();
  renderItems();
}

function renderGroups() {
  $('edit-groups').replaceChildren(...GROUPS.map((g) => el('button', {
    class: g === state.group ? 'active' : '', 'data-group': g, text: g,
    onclick: () => { state.group = g; renderGroups(); renderItems(); },
  })));
}

function valueInput(item, index, label) {
  const key = `${item.item}.${index}`;
  const original = state.herd.values[key];
  if (original === undefined) return el('span', { class: 'hint', text: '(missing)' });
  const current = key in state.changes ? state.changes[key] : original;
  const input = el('input', { class: 'v', 'data-key': key, title: label || key, 'aria-label': `${item.name} ${label || ''}`.trim() });
  if (item.kind === 'text' || item.kind === 'name') input.classList.add('wide');
  input.value = current;
  if (current !== original) input.classList.add('changed');
  if (state.faults.some((f) => f.item === item.item && f.index === index)) input.classList.add('bad');
  input.addEventListener('input', () => {
    if (input.classList.contains('bad')) {
      /* The value at fault has been changed: its message no longer holds. */
      input.classList.remove('bad');
      state.faults = state.faults.filter((f) => !(f.item === item.item && f.index === index));
      if (state.faults.length === 0) showMessages($('edit-messages'), []);
    }
    if (input.value === original) delete state.changes[key];
    else state.changes[key] = input.value;
    input.classList.toggle('changed', input.value !== original);
    updateChangeCount();
  });
  return input;
}

function renderItems() {
  const items = state.schema.items.filter((i) => i.group === state.group);
  $('edit-items').replaceChildren(...items.map(renderItem));
  updateChangeCount();
}

function renderItem(item) {
  const faults = state.faults.filter((f) => f.item === item.item);
  const box = el('div', { class: faults.length ? 'item bad' : 'item', id: `item-${item.item}` },
    el('h4', {}, `${item.item}. ${item.name} `, el('span', { class: 'unit', text: `(${item.unit})` })),
    el('div', { class: 'help', text: item.help }));
  if (item.rows > 1 && item.col_labels.length) {
    const table = el('table', { class: 'grid' });
    table.append(el('tr', {}, el('th'), ...item.col_labels.map((c) => el('th', { text: c }))));
    for (let r = 0; r < item.rows; r++) {
      const row = el('tr', {}, el('th', { text: item.labels[r] || '' }));
      for (let c = 0; c < item.cols; c++) {
        row.append(el('td', {}, valueInput(item, r * item.cols + c, `${item.labels[r] || ''} ${item.col_labels[c] || ''}`)));
      }
      table.append(row);
    }
    box.append(table);
  } else {
    const values = el('div', { class: 'values' });
    const count = item.rows * item.cols;
    for (let i = 0; i < count; i++) {
      const label = item.labels[i] || '';
      values.append(count === 1 ? valueInput(item, i, '') : el('label', {}, label, valueInput(item, i, label)));
    }
    box.append(values);
  }
  for (const f of faults) box.append(el('div', { class: 'fault', text: f.text }));
  return box;
}

function updateChangeCount() {
  const n = Object.keys(state.changes).length;
  $('edit-changes').textContent = n ? `${n} value${n > 1 ? 's' : ''} changed` : 'no changes';
}

async function validate() {
  const result = await api(`/api/herds/${encodeURIComponent(state.herd.name)}/check`, { method: 'POST', body: { changes: state.changes } });
  state.faults = result.messages;
  if (result.ok && result.messages.length === 0) showMessages($('edit-messages'), [['good', 'The program reads this herd without fault.']]);
  else showMessages($('edit-messages'), result.messages.map((m) => [result.ok ? 'good' : 'bad', m.text]));
  const first = result.messages.find((m) => m.item > 0);
  if (first) {
    const item = state.schema.items.find((i) => i.item === first.item);
    if (item) state.group = item.group;
  }
  renderGroups();
  renderItems();
  if (first) {
    const box = $(`item-${first.item}`);
    if (box) box.scrollIntoView({ block: 'center' });
  }
  return result.ok;
}

async function save() {
  const name = state.herd.name;
  const n = Object.keys(state.changes).length;
  await api(`/api/herds/${encodeURIComponent(name)}`, { method: 'PUT', body: { changes: state.changes } });
  state.herd = await api(`/api/herds/${encodeURIComponent(name)}`);
  state.changes = {};
  renderItems();
  say(n ? `${name} saved (${n} value${n > 1 ? 's' : ''} changed)` : `${name}: nothing changed`);
}

async function saveAndRun() {
  if (!(await validate())) return;
  await save();
  await startRun(state.herd.name);
}

/* ---- runs --------------------------------------------------------------- */

async function startRun(herd) {
  const { id } = await api('/api/runs', { method: 'POST', body: { herd } });
  say(`run ${id} of ${herd} started`);
  location.hash = '#runs';
  return id;
}

async function showRuns() {
  await refreshRuns();
}

async function refreshRuns() {
  clearTimeout(state.pollTimer);
  try {
    state.runs = await api('/api/runs');
  } catch (e) {
    /* The server may be busy: look again shortly. */
    say(e.message);
    state.pollTimer = setTimeout(() => refreshRuns().catch((err) => say(err.message)), POLL_MS);
    return;
  }
  const body = $('run-list').tBodies[0];
  const rows = [...state.runs].reverse().map((r) => {
    const actions = el('td');
    if (r.state === 'queued' || r.state === 'running') {
      actions.append(el('button', { text: 'Cancel', onclick: () => api(`/api/runs/${r.id}/cancel`, { method: 'POST' }).then(refreshRuns) }));
    }
    if (r.state === 'done' && r.kind === 'run') actions.append(el('a', { href: `#results/${r.id}`, text: 'Results' }));
    const message = el('td', { text: r.message });
    if (r.state === 'failed' && r.console_tail) message.append(el('pre', { class: 'hint', text: r.console_tail }));
    return el('tr', { 'data-run': r.id, 'data-state': r.state },
      el('td', { text: r.id }), el('td', { text: r.herd }), el('td', { text: r.kind }),
      el('td', { class: 'state', text: r.state }),
      el('td', {}, el('progress', { max: 1, value: r.progress })),
      message, actions);
  });
  body.replaceChildren(...rows);
  const active = state.runs.some((r) => r.state === 'queued' || r.state === 'running');
  clearTimeout(state.pollTimer);
  if (active && location.hash.startsWith('#runs')) state.pollTimer = setTimeout(() => refreshRuns().catch((e) => say(e.message)), POLL_MS);
}

/* ---- charts ------------------------------------------------------------- */

/* The chart library (uPlot, 50 kB of script) is loaded when the first
 * chart is about to be drawn, so that the views without charts never wait
 * for it. */
let chartLibrary = null;
function loadCharts() {
  if (!chartLibrary) {
    chartLibrary = new Promise((resolve, reject) => {
      document.head.append(el('link', { rel: 'stylesheet', href: '/vendor/uPlot.min.css' }));
      document.head.append(el('script', {
        src: '/vendor/uPlot.iife.min.js',
        onload: resolve,
        onerror: () => { chartLibrary = null; reject(new Error('the chart library could not be loaded')); },
      }));
    });
  }
  return chartLibrary;
}

function chart(container, title, x, series, opts = {}) {
  const box = el('div', { class: 'chart', 'data-chart': title }, el('h4', { text: title }));
  container.append(box);
  const data = [x, ...series.map((s) => s.values.map((v) => (v === null ? null : v)))];
  const plot = new uPlot({
    width: CHART_WIDTH, height: CHART_HEIGHT,
    scales: { x: { time: false } },
    axes: [{ label: opts.xlabel || '' }, { label: opts.ylabel || '', size: 60 }],
    series: [{ label: opts.xlabel || 'x' }, ...series.map((s, i) => ({
      label: s.label, stroke: SERIES_COLOURS[i % SERIES_COLOURS.length], width: 2,
      fill: s.fill ? SERIES_COLOURS[i % SERIES_COLOURS.length] + '55' : undefined,
      paths: s.bars ? uPlot.paths.bars({ size: [0.7, 40] }) : undefined,
      points: { show: false },
    }))],
  }, data, box);
  box.dataset.drawn = String(plot.data[0].length > 0);
  return plot;
}

function drawRunCharts(container, r) {
  container.replaceChildren();
  const m = r.mim;
  chart(container, 'Cash flow of one herd place', r.monthly.t, [
    { label: 'monthly cash flow', values: r.monthly.cash, bars: true },
    { label: 'running sum', values: r.monthly.sumcash },
  ], { xlabel: 'month of the projection', ylabel: 'money' });
  chart(container, 'Herd structure by month in milk', m.mim, [
    { label: 'open', values: m.open_dim, fill: true },
    { label: 'pregnant', values: m.preg_dim, fill: true },
  ], { xlabel: 'month in milk', ylabel: 'cows per place' });
  chart(container, 'Culling by month in milk', m.mim, [
    { label: 'open, voluntary', values: m.hz_open_repl },
    { label: 'open, involuntary', values: m.hz_open_pind },
    { label: 'pregnant, voluntary', values: m.hz_preg_repl },
    { label: 'pregnant, involuntary', values: m.hz_preg_pind },
  ], { xlabel: 'month in milk', ylabel: 'share culled per month' });
  chart(container, 'Lactation curve of the herd', m.mim, [
    { label: 'milk per cow per day', values: m.lactationcurve },
  ], { xlabel: 'month in milk', ylabel: 'per day' });
  const mims = Array.from({ length: 24 }, (_, i) => i + 1);
  const producers = (l) => ['low', 'average', 'high'].map((k, i) => ({ label: `${k} (class ${4 * (i + 1)})`, values: l[k] }));
  (r.rpo || []).forEach((l, i) => chart(container, `Retention pay-off, open cows, lactation ${i + 1}`, mims, producers(l),
    { xlabel: 'month in milk', ylabel: 'money per cow' }));
  (r.pregnancy_value || []).forEach((l, i) => chart(container, `Value of a pregnancy, lactation ${i + 1}`, mims, producers(l),
    { xlabel: 'month in milk', ylabel: 'money per cow' }));
}

/* ---- results ------------------------------------------------------------ */

async function showResults(id) {
  const empty = !id;
  $('results-empty').hidden = !empty;
  $('results-body').hidden = empty;
  if (empty) return;
  const [run, results, files] = await Promise.all([api(`/api/runs/${id}`), api(`/api/runs/${id}/results`),
    api(`/api/runs/${id}/files`), loadCharts()]);
  $('results-title').textContent = `Results of ${run.herd} (run ${id}) — ${results.title}`;
  const years = results.yearly.length ? results.yearly[0].values.length : 0;
  $('yearly').tHead.replaceChildren(el('tr', {}, el('th', { text: 'figure' }), ...Array.from({ length: years }, (_, i) => el('th', { text: `year ${i + 1}` }))));
  $('yearly').tBodies[0].replaceChildren(...results.yearly.map((row) => el('tr', {},
    el('td', { text: row.name }), ...row.values.map((v) => el('td', { class: 'num', text: fmt(v) })))));
  drawRunCharts($('charts'), results);
  $('run-files').replaceChildren(...files.map((f) => el('li', {},
    el('a', { href: `/api/runs/${id}/files/${encodeURIComponent(f.name)}?download=1`, text: f.name }),
    ` (${(f.size / 1024).toFixed(0)} kB)`)));
}

/* ---- compare ------------------------------------------------------------ */

async function showCompare() {
  const runs = (await api('/api/runs')).filter((r) => r.state === 'done' && r.kind === 'run');
  $('compare-pick').replaceChildren(...runs.map((r, i) => el('label', {},
    el('input', { type: 'checkbox', value: r.id, 'data-run': r.id, ...(i >= runs.length - 2 ? { checked: '' } : {}) }),
    ` ${r.herd} — run ${r.id}`)));
}

async function compare() {
  const ids = [...document.querySelectorAll('#compare-pick input:checked')].map((i) => i.value);
  if (ids.length < 2) throw new Error('tick at least two runs');
  const runs = await Promise.all(ids.map((id) => api(`/api/runs/${id}`)));
  const results = await Promise.all(ids.map((id) => api(`/api/runs/${id}/results`)));
  await loadCharts();
  const last = (row) => (row ? row.values[row.values.length - 1] : null);
  const names = results[0].yearly.map((r) => r.name);
  const head = el('tr', {}, el('th', { text: 'figure (last year)' }), el('th', { text: `${runs[0].herd}` }));
  for (const run of runs.slice(1)) head.append(el('th', { text: run.herd }), el('th', { text: 'difference' }), el('th', { text: '%' }));
  $('compare-table').tHead.replaceChildren(head);
  $('compare-table').tBodies[0].replaceChildren(...names.map((name) => {
    const base = last(results[0].yearly.find((r) => r.name === name));
    const row = el('tr', {}, el('td', { text: name }), el('td', { class: 'num', text: fmt(base) }));
    for (const res of results.slice(1)) {
      const v = last(res.yearly.find((r) => r.name === name));
      const d = v !== null && base !== null ? v - base : null;
      const cls = d > 0 ? 'num up' : d < 0 ? 'num down' : 'num';
      row.append(el('td', { class: 'num', text: fmt(v) }), el('td', { class: cls, text: d === null ? '' : fmt(d) }),
        el('td', { class: cls, text: d === null || !base ? '' : `${((100 * d) / Math.abs(base)).toFixed(1)}` }));
    }
    return row;
  }));
  const box = $('compare-charts');
  box.replaceChildren();
  const label = (i) => `${runs[i].herd} (${runs[i].id})`;
  chart(box, 'Running sum of the cash flow', results[0].monthly.t,
    results.map((r, i) => ({ label: label(i), values: r.monthly.sumcash })), { xlabel: 'month', ylabel: 'money' });
  chart(box, 'Retention pay-off, average cow, lactation 2', Array.from({ length: 24 }, (_, i) => i + 1),
    results.map((r, i) => ({ label: label(i), values: r.rpo ? r.rpo[1].average : [] })), { xlabel: 'month in milk', ylabel: 'money per cow' });
  chart(box, 'Culling of open cows (voluntary)', results[0].mim.mim,
    results.map((r, i) => ({ label: label(i), values: r.mim.hz_open_repl })), { xlabel: 'month in milk', ylabel: 'share per month' });
}

/* ---- cows --------------------------------------------------------------- */

async function showCows() {
  const herds = await api('/api/herds');
  const select = $('cows-herd');
  const chosen = select.value;
  select.replaceChildren(...herds.map((h) => el('option', { value: h.name, text: h.name })));
  if (chosen) select.value = chosen;
  if ($('cows-month').options.length === 1) $('cows-month').append(...MONTHS.map((m) => el('option', { value: m, text: m })));
}

/* A CSV line set into rows of fields; quoted fields may hold commas,
 * doubled quotes and line ends. */
function parseCsv(text) {
  const rows = [];
  let row = [], field = '', quoted = false;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (quoted) {
      if (c === '"' && text[i + 1] === '"') { field += '"'; i++; }
      else if (c === '"') quoted = false;
      else field += c;
    } else if (c === '"') quoted = true;
    else if (c === ',') { row.push(field); field = ''; }
    else if (c === '\n') { row.push(field.replace(/\r$/, '')); rows.push(row); row = []; field = ''; }
    else field += c;
  }
  if (field !== '' || row.length) { row.push(field.replace(/\r$/, '')); rows.push(row); }
  return rows;
}

async function rankCows() {
  const file = $('cows-file').files[0];
  if (!file) throw new Error('choose a cow list first');
  const body = { herd: $('cows-herd').value, csv: await file.text(), month: $('cows-month').value };
  const { id } = await api('/api/cows', { method: 'POST', body });
  const bar = $('cows-progress');
  bar.hidden = false;
  showMessages($('cows-messages'), [['good', 'Solving the herd\u2019s policy, then valuing the cows\u2026']]);
  let run;
  for (;;) {
    run = await api(`/api/runs/${id}`);
    bar.value = run.progress;
    if (run.state !== 'queued' && run.state !== 'running') break;
    await new Promise((r) => setTimeout(r, POLL_MS));
  }
  bar.hidden = true;
  const files = await api(`/api/runs/${id}/files`);
  if (!files.some((f) => f.name === 'ranked.csv')) {
    showMessages($('cows-messages'), [['bad', `No ranked list: ${run.message}`], ...(run.console_tail ? [['bad', run.console_tail]] : [])]);
    return;
  }
  /* Exit 1 with a list means some rows were rejected: they are in it with their reason. */
  showMessages($('cows-messages'), run.state === 'done' ? [] : [['bad', 'Some rows could not be valued: see their note.']]);
  const text = await api(`/api/runs/${id}/files/ranked.csv`);
  renderCows(parseCsv(text).filter((r) => r.length > 1 || r[0] !== ''));
  const link = $('cows-download');
  link.href = `/api/runs/${id}/files/ranked.csv?download=1`;
  link.hidden = false;
}

/* Figures with decimals shown to the cent; whole numbers (ids, counts) as written. */
function shownCell(text, numeric) {
  if (!numeric || text === '' || !text.includes('.')) return text;
  return Number(text).toLocaleString('en-US', { minimumFractionDigits: 2, maximumFractionDigits: 2 });
}

function renderCows(rows) {
  const [header, ...cows] = rows;
  const table = $('cows-table');
  const numeric = header.map((_, c) => cows.every((r) => r[c] === '' || r[c] === undefined || !Number.isNaN(Number(r[c]))));
  let sortCol = header.indexOf('rank'), asc = true;
  const draw = () => {
    const sorted = [...cows].sort((a, b) => {
      const x = a[sortCol] ?? '', y = b[sortCol] ?? '';
      const d = numeric[sortCol] ? (x === '' ? Infinity : Number(x)) - (y === '' ? Infinity : Number(y)) : String(x).localeCompare(String(y));
      return asc ? d : -d;
    });
    table.tHead.replaceChildren(el('tr', {}, ...header.map((h, c) => el('th', {
      text: h, class: c === sortCol ? (asc ? 'sorted-asc' : 'sorted-desc') : '',
      onclick: () => { asc = c === sortCol ? !asc : true; sortCol = c; draw(); },
    }))));
    table.tBodies[0].replaceChildren(...sorted.map((r) => el('tr', {},
      ...header.map((_, c) => el('td', { class: numeric[c] ? 'num' : '', text: shownCell(r[c] ?? '', numeric[c]) })))));
  };
  draw();
  const col = (name) => header.indexOf(name);
  const count = (d) => cows.filter((r) => r[col('decision')] === d).length;
  const valued = cows.filter((r) => r[col('rpo')] !== '' && r[col('rpo')] !== undefined).map((r) => Number(r[col('rpo')]));
  const total = valued.reduce((a, b) => a + b, 0);
  $('cows-summary').replaceChildren(el('p', { text:
    `${cows.length} cows: ${count('keep')} keep, ${count('breed')} breed, ${count('replace')} replace; ` +
    `total retention pay-off ${fmt(total)}, average ${fmt(valued.length ? total / valued.length : null)}` }));
}

/* ---- start -------------------------------------------------------------- */

function guard(fn) {
  return () => fn().catch((e) => say(e.message));
}

window.addEventListener('hashchange', route);
document.addEventListener('DOMContentLoaded', () => {
  $('new-create').addEventListener('click', guard(createHerd));
  $('upload-send').addEventListener('click', guard(uploadHerd));
  $('edit-validate').addEventListener('click', guard(validate));
  $('edit-save').addEventListener('click', guard(save));
  $('edit-run').addEventListener('click', guard(saveAndRun));
  $('compare-go').addEventListener('click', guard(compare));
  $('cows-go').addEventListener('click', guard(rankCows));
  route();
  document.body.dataset.ready = 'true';
});
