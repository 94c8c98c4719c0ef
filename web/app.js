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
/* A run started from the page is followed: the server tells when it ends, and
   its progress at least this often; its results open as soon as it is done. */
const FOLLOW_WAIT_MS = 1000;
const CHART_WIDTH = 420;
const CHART_HEIGHT = 240;
/* Steps between ticks of an axis of whole numbers (months, years): never 1.5. */
const WHOLE_STEPS = [1, 2, 3, 4, 6, 12, 24, 36, 60, 120, 240];
const SERIES_COLOURS = ['#1f6f8b', '#d9822b', '#2e8b57', '#8e44ad', '#b3261e', '#6d7b8d'];
/* The items whose values run over the 24 model months from the start month (item 28). */
const MODEL_MONTH_ITEMS = [24, 25, 26];
const START_MONTH_KEY = '28.0';
const FIGURE_GROUPS = [['money', 'Money'], ['milk', 'Milk'], ['herd and culling', 'Herd and culling'], ['reproduction', 'Reproduction']];
const STEADY_STATE = 1;
/* Plain names of the ranked cow list's columns. */
const COW_COLUMNS = {
  id: 'cow', class: 'yield class', lact: 'lactation', mim: 'month in milk', mpreg: 'months pregnant',
  decision: 'decision', rpo: 'retention pay-off', cow_value: 'cow value', pregnancy_value: 'value of pregnancy',
  milk: 'milk per day', rank: 'rank', note: 'note', dim: 'days in milk', dcc: 'days carried calf',
  line: 'line of the list', month: 'calendar month', rel_yield: 'relative yield',
};
const COW_MONEY = ['rpo', 'cow_value', 'pregnancy_value'];

const state = {
  schema: null,
  herd: null,          /* {name, values} as opened */
  changes: {},         /* "item.index" -> value differing from the file */
  group: 'milk',
  faults: [],
  runs: [],
  pollTimer: null,
  lastHash: location.hash,
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

/* A figure in the way its unit reads: shares and rates as %, money per
   cow or per year whole, small amounts to the cent. */
function fmtFigure(v, unitCode) {
  if (v === null || v === undefined || Number.isNaN(v)) return '';
  if (Math.abs(v) < 5e-5) return '0';
  const whole = (x, d) => x.toLocaleString('en-US', { minimumFractionDigits: d, maximumFractionDigits: d });
  /* unit codes as `morvenda figures --json` gives them */
  switch (unitCode) {
    case '%': case '%/year': return `${whole(100 * v, 1)} %`;
    case 'days': case 'days/year': return whole(v, 0);
    case 'months': case 'class': return whole(v, 1);
    case 'money/100 milk': case 'money/day': case 'milk/day': case 'milk/100 milk': return whole(v, 2);
    default: return Math.abs(v) >= 100 ? whole(v, 0) : Math.abs(v) >= 0.01 ? whole(v, 2) : v.toPrecision(2);
  }
}

function csvField(v) {
  const t = String(v ?? '');
  return /[",\n]/.test(t) ? `"${t.replace(/"/g, '""')}"` : t;
}

/* Offers text or a blob as a file the browser saves. */
function offerDownload(name, data, type = 'text/csv') {
  const blob = data instanceof Blob ? data : new Blob([data], { type });
  const link = el('a', { href: URL.createObjectURL(blob), download: name, hidden: '' });
  document.body.append(link);
  link.click();
  setTimeout(() => { URL.revokeObjectURL(link.href); link.remove(); }, 1000);
}

function showMessages(box, list) {
  box.replaceChildren(...list.map(([kind, text]) => el('div', { class: kind, text })));
}

/* ---- navigation --------------------------------------------------------- */

function unsaved() {
  return state.herd !== null && Object.keys(state.changes).length > 0;
}

/* Leaving a herd with edits not saved asks first; staying puts the address back. */
function route() {
  const leavingHerd = state.lastHash.startsWith('#edit') && !(location.hash === state.lastHash);
  const target = decodeURIComponent(location.hash.slice(1));
  const otherHerd = target.startsWith('edit/') && state.herd && target !== `edit/${state.herd.name}`;
  if (unsaved() && leavingHerd && (otherHerd || !target.startsWith('edit')) &&
      !window.confirm(`${state.herd.name} has ${Object.keys(state.changes).length} unsaved change(s). Leave without saving?`)) {
    history.replaceState(null, '', state.lastHash);
    return;
  }
  if (otherHerd || (leavingHerd && !target.startsWith('edit'))) { state.changes = {}; if (otherHerd) state.herd = null; }
  state.lastHash = location.hash;
  const [page, arg] = (location.hash.slice(1) || 'herds').split('/').map(decodeURIComponent);
  for (const section of document.querySelectorAll('.page')) section.classList.toggle('active', section.id === `page-${page}`);
  for (const link of document.querySelectorAll('#nav a')) link.classList.toggle('active', link.dataset.page === page);
  const views = { herds: showHerds, edit: showEdit, runs: showRuns, results: showResults, compare: showCompare, cows: showCows,
    calibrate: openCalibrate, sweeps: openSweeps };
  (views[page] || showHerds)(arg).catch((e) => say(e.message));
}

/* ---- herds -------------------------------------------------------------- */

async function showHerds() {
  const [herds, examples] = await Promise.all([api('/api/herds'), api('/api/examples')]);
  const body = $('herd-list').tBodies[0];
  body.replaceChildren(...herds.map((h) => el('tr', { 'data-herd': h.name },
    el('td', {}, el('a', { href: `#edit/${encodeURIComponent(h.name)}`, text: h.name })),
    el('td', { text: h.title || '' }),
    el('td', { text: h.modified ? new Date(h.modified * 1000).toLocaleString('en-GB', { dateStyle: 'medium', timeStyle: 'short' }) : '' }),
    el('td', { class: 'num', text: `${(h.size / 1024).toFixed(1)} kB` }),
    el('td', { class: 'actions' },
      el('button', { text: 'Run', onclick: () => startRun(h.name).catch((e) => say(e.message)) }), ' ',
      el('button', { text: 'Duplicate', onclick: () => copyHerd(h.name, false).catch((e) => say(e.message)) }), ' ',
      el('button', { text: 'Rename', onclick: () => copyHerd(h.name, true).catch((e) => say(e.message)) }), ' ',
      el('button', { text: 'Delete', onclick: () => deleteHerd(h.name).catch((e) => say(e.message)) }), ' ',
      el('a', { href: `/api/herds/${encodeURIComponent(h.name)}/download`, text: 'Download' })))));
  if (herds.length === 0) body.append(el('tr', {}, el('td', { colspan: 5, class: 'hint', text: 'No bio files here yet: make one from an example.' })));
  /* a list drawn again keeps the example already chosen */
  const chosen = $('new-example').value;
  $('new-example').replaceChildren(...examples.map((name) => el('option', { value: name, text: name })));
  if (examples.includes(chosen)) $('new-example').value = chosen;
  /* the moment the first list is on the page, for the speed benchmark */
  if (!performance.getEntriesByName('herds-listed').length) performance.mark('herds-listed');
}

async function createHerd() {
  const name = $('new-name').value.trim();
  await api('/api/herds', { method: 'POST', body: { name, example: $('new-example').value } });
  location.hash = `#edit/${encodeURIComponent(name)}`;
}

/* A copy of a herd under a new name; a rename is a copy and the old one deleted. */
async function copyHerd(name, rename) {
  const suggested = name.replace(/\.bio$/, rename ? '_renamed.bio' : '_copy.bio');
  const target = (window.prompt(rename ? `Rename ${name} to` : `Copy ${name} as`, suggested) || '').trim();
  if (!target) return;
  const text = await (await fetch(`/api/herds/${encodeURIComponent(name)}/download`)).text();
  await api('/api/herds', { method: 'POST', body: { name: target, text } });
  if (rename) await api(`/api/herds/${encodeURIComponent(name)}`, { method: 'DELETE' });
  if (state.herd && state.herd.name === name && rename) state.herd = null;
  say(rename ? `${name} renamed to ${target}` : `${name} copied to ${target}`);
  await showHerds();
}

async function deleteHerd(name) {
  if (!window.confirm(`Delete ${name}? Its runs stay.`)) return;
  await api(`/api/herds/${encodeURIComponent(name)}`, { method: 'DELETE' });
  if (state.herd && state.herd.name === name) { state.herd = null; state.changes = {}; }
  say(`${name} deleted`);
  await showHerds();
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
    /* the last herd's controls go at once: none may act while this one loads */
    state.herd = null;
    $('edit-title').textContent = `Edit ${name}: loading`;
    $('edit-groups').replaceChildren();
    $('edit-items').replaceChildren();
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

/* The current value of a key: the edit if there is one, else the file's. */
function currentValue(key) {
  return key in state.changes ? state.changes[key] : state.herd.values[key];
}

/* Calendar months of the 24 model months, from the start month: "Jan 1" .. "Dec 2". */
function modelMonthLabels() {
  const start = Math.max(0, MONTHS.indexOf(String(currentValue(START_MONTH_KEY) || 'JAN').toUpperCase()));
  return Array.from({ length: 24 }, (_, k) => {
    const m = MONTHS[(start + k) % 12];
    return `${m[0]}${m.slice(1).toLowerCase()} ${Math.floor((start + k) / 12) + 1}`;
  });
}

function columnLabels(item) {
  return MODEL_MONTH_ITEMS.includes(item.item) && item.cols === 24 ? modelMonthLabels() : item.col_labels;
}

function valueLabels(item) {
  return MODEL_MONTH_ITEMS.includes(item.item) && item.rows * item.cols === 24 && !item.col_labels.length
    ? modelMonthLabels() : item.labels;
}

/* The cell a value stands in, in words: "month in milk 3, MAR". */
function cellName(item, index) {
  if (item.rows > 1 && item.col_labels.length) {
    const r = Math.floor(index / item.cols), c = index % item.cols;
    return `${item.labels[r] || `row ${r + 1}`}, ${columnLabels(item)[c] || `column ${c + 1}`}`;
  }
  return valueLabels(item)[index] || (item.rows * item.cols > 1 ? `value ${index + 1}` : '');
}

/* Changes a whole row or series (or the whole item) by a percentage or to a value. */
function scenarioTool(item) {
  const count = item.rows * item.cols;
  if (count < 2 || !['number', 'integer'].includes(item.kind)) return null;
  const grid = item.rows > 1 && item.col_labels.length;
  const target = el('select', { 'aria-label': `${item.name}: values to change`, 'data-scenario-target': item.item },
    el('option', { value: 'all', text: 'all values' }),
    ...(grid ? item.labels.map((l, r) => el('option', { value: String(r), text: l })) : []));
  const how = el('select', { 'aria-label': `${item.name}: how to change`, 'data-scenario-how': item.item },
    el('option', { value: 'percent', text: 'change by %' }), el('option', { value: 'value', text: 'set to' }));
  const amount = el('input', { class: 'v', 'aria-label': `${item.name}: amount`, 'data-scenario-amount': item.item, inputmode: 'decimal' });
  const apply = () => {
    const a = Number(amount.value);
    if (amount.value.trim() === '' || !Number.isFinite(a)) { say('give a number to change by'); return; }
    const rows = target.value === 'all' ? [...Array(grid ? item.rows : 1).keys()] : [Number(target.value)];
    const per = grid ? item.cols : count;
    for (const r of rows) {
      for (let c = 0; c < per; c++) {
        const key = `${item.item}.${r * per + c}`;
        const original = state.herd.values[key];
        if (original === undefined) continue;
        const now = Number(currentValue(key));
        if (!Number.isFinite(now)) continue;
        const decimals = Math.max((String(original).split('.')[1] || '').length, how.value === 'percent' ? 2 : 0);
        const next = how.value === 'percent' ? now * (1 + a / 100) : a;
        const text = item.kind === 'integer' ? String(Math.round(next)) : next.toFixed(decimals);
        if (text === original) delete state.changes[key];
        else state.changes[key] = text;
      }
    }
    renderItems();
  };
  return el('div', { class: 'scenario' }, 'Scenario: ', target, ' ', how, ' ', amount, ' ',
    el('button', { text: 'Apply', 'data-scenario-apply': item.item, onclick: apply }));
}

function renderItem(item) {
  const faults = state.faults.filter((f) => f.item === item.item);
  const box = el('div', { class: faults.length ? 'item bad' : 'item', id: `item-${item.item}` },
    el('h3', {}, `${item.item}. ${item.name} `, el('span', { class: 'unit', text: `(${item.unit})` })),
    el('div', { class: 'help', text: item.help }), scenarioTool(item));
  if (item.rows > 1 && item.col_labels.length) {
    const cols = columnLabels(item);
    const table = el('table', { class: 'grid' });
    table.append(el('tr', {}, el('td'), ...cols.map((c) => el('th', { scope: 'col', text: c }))));
    for (let r = 0; r < item.rows; r++) {
      const row = el('tr', {}, el('th', { scope: 'row', text: item.labels[r] || '' }));
      for (let c = 0; c < item.cols; c++) {
        row.append(el('td', {}, valueInput(item, r * item.cols + c, `${item.labels[r] || ''} ${cols[c] || ''}`)));
      }
      table.append(row);
    }
    box.append(el('div', { class: 'grid-scroll', tabindex: '0', role: 'region', 'aria-label': item.name }, table));
  } else {
    const values = el('div', { class: 'values' });
    const count = item.rows * item.cols;
    const labels = valueLabels(item);
    for (let i = 0; i < count; i++) {
      const label = labels[i] || '';
      values.append(count === 1 ? valueInput(item, i, '') : el('label', {}, label, valueInput(item, i, label)));
    }
    box.append(values);
  }
  for (const f of faults) {
    const where = f.index >= 0 ? cellName(item, f.index) : '';
    box.append(el('div', { class: 'fault', text: where ? `${where}: ${f.text}` : f.text }));
  }
  return box;
}

function updateChangeCount() {
  const n = Object.keys(state.changes).length;
  $('edit-changes').textContent = n ? `${n} value${n > 1 ? 's' : ''} changed` : 'no changes';
}

/* Every fault at once: a list naming each item and cell, each value at
   fault outlined in its group. */
function showFaults(result) {
  const box = $('edit-messages');
  if (result.ok && result.messages.length === 0) { showMessages(box, [['good', 'The program reads this herd without fault.']]); return; }
  box.replaceChildren(...result.messages.map((m) => {
    const item = state.schema.items.find((i) => i.item === m.item);
    const where = item && m.index >= 0 ? ` (${cellName(item, m.index)})` : '';
    const line = el('div', { class: result.ok ? 'good' : 'bad' }, `${m.text}${where} `);
    if (item) {
      line.append(el('button', { class: 'link', text: `show in ${item.group}`, onclick: () => {
        state.group = item.group; renderGroups(); renderItems();
        const at = $(`item-${item.item}`); if (at) at.scrollIntoView({ block: 'center' });
      } }));
    }
    return line;
  }));
}

async function validate() {
  const result = await api(`/api/herds/${encodeURIComponent(state.herd.name)}/check`, { method: 'POST', body: { changes: state.changes } });
  state.faults = result.messages;
  showFaults(result);
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

/* Save checks first: a herd the program would not read is not written. */
async function save() {
  const name = state.herd.name;
  const n = Object.keys(state.changes).length;
  if (n && !(await validate())) { say(`${name} not saved: mend the faults shown first`); return false; }
  await api(`/api/herds/${encodeURIComponent(name)}`, { method: 'PUT', body: { changes: state.changes } });
  state.herd = await api(`/api/herds/${encodeURIComponent(name)}`);
  state.changes = {};
  renderItems();
  say(n ? `${name} saved (${n} value${n > 1 ? 's' : ''} changed)` : `${name}: nothing changed`);
  return true;
}

async function revert() {
  if (!state.herd) return;
  const n = Object.keys(state.changes).length;
  if (n && !window.confirm(`Forget ${n} unsaved change(s) to ${state.herd.name}?`)) return;
  state.herd = await api(`/api/herds/${encodeURIComponent(state.herd.name)}`);
  state.changes = {};
  state.faults = [];
  showMessages($('edit-messages'), []);
  renderItems();
  say(`${state.herd.name} as saved`);
}

async function saveAndRun() {
  if (!(await validate())) return;
  if (!(await save())) return;
  await startRun(state.herd.name);
}

/* ---- runs --------------------------------------------------------------- */

async function startRun(herd) {
  const keep = $('keep-files') && $('keep-files').checked;
  const { id } = await api('/api/runs', { method: 'POST', body: keep ? { herd, keep_files: true } : { herd } });
  say(`run ${id} of ${herd} started`);
  state.followRun = id;
  /* the results will want the chart library: fetch it while the run goes */
  loadCharts().catch(() => {});
  location.hash = '#runs';
  return id;
}

async function showRuns() {
  await refreshRuns();
}

async function refreshRuns() {
  clearTimeout(state.pollTimer);
  /* an answer overtaken by a later request (after a delete) is dropped */
  const asked = (state.runsAsked = (state.runsAsked || 0) + 1);
  try {
    const runs = await api('/api/runs');
    if (asked !== state.runsAsked) return;
    state.runs = runs;
  } catch (e) {
    /* The server may be busy: look again shortly. */
    say(e.message);
    state.pollTimer = setTimeout(() => refreshRuns().catch((err) => say(err.message)), POLL_MS);
    return;
  }
  const body = $('run-list').tBodies[0];
  const when = (t) => (t ? new Date(t * 1000).toLocaleString('en-GB', { dateStyle: 'short', timeStyle: 'medium' }) : '');
  const rows = [...state.runs].reverse().map((r) => {
    const actions = el('td', { class: 'actions' });
    if (r.state === 'queued' || r.state === 'running') {
      actions.append(el('button', { text: 'Cancel', onclick: () => api(`/api/runs/${r.id}/cancel`, { method: 'POST' }).catch((e) => say(e.message)).then(refreshRuns) }));
    } else {
      actions.append(el('button', { text: 'Delete', 'aria-label': `Delete run ${r.id}`, onclick: () => deleteRun(r.id).catch((e) => say(e.message)) }), ' ');
    }
    if (r.state === 'done' && r.kind === 'run') actions.append(el('a', { href: `#results/${r.id}`, text: 'Results' }));
    if (r.kind === 'calibrate' && r.state !== 'queued' && r.state !== 'running') actions.append(el('a', { href: `#calibrate/${r.id}`, text: 'Report' }));
    const message = el('td', { text: r.stage && r.state === 'running' ? `${r.stage} (${r.message})` : r.message });
    if (r.state === 'failed' && r.console_tail) message.append(el('pre', { class: 'hint', text: r.console_tail }));
    const end = r.finished || (r.started ? Date.now() / 1000 : 0);
    const took = r.started && end ? `${Math.max(0, end - r.started).toFixed(0)} s` : '';
    return el('tr', { 'data-run': r.id, 'data-state': r.state },
      el('td', { text: r.id }), el('td', { text: r.herd }), el('td', { text: r.kind }),
      el('td', { class: 'state', text: r.state }),
      el('td', {}, el('progress', { max: 1, value: r.progress, 'aria-label': `progress of run ${r.id}` })),
      el('td', { text: when(r.started || r.created) }), el('td', { class: 'num', text: took }),
      el('td', { class: 'num', text: r.size !== undefined ? `${(r.size / 1048576).toFixed(1)} MB` : '' }),
      message, actions);
  });
  const total = state.runs.reduce((a, r) => a + (r.size || 0), 0);
  $('runs-total').textContent = `${state.runs.length} runs, ${(total / 1048576).toFixed(1)} MB`;
  body.replaceChildren(...rows);
  const active = state.runs.some((r) => r.state === 'queued' || r.state === 'running');
  clearTimeout(state.pollTimer);
  const followed = state.runs.find((r) => r.id === state.followRun);
  if (followed && followed.state === 'done' && followed.kind === 'run' && location.hash.startsWith('#runs')) {
    /* the run asked for has ended well: show it (whatever else is going,
       as the user is waiting for this one) */
    state.followRun = null;
    say(`run ${followed.id} of ${followed.herd} done`);
    location.hash = `#results/${followed.id}`;
    return;
  }
  if (followed && followed.state !== 'queued' && followed.state !== 'running') {
    state.followRun = null;
    say(`run ${followed.id} of ${followed.herd} ${followed.state}${followed.state === 'done' ? '' : `: ${followed.message}`}`);
  }
  if (!active || !location.hash.startsWith('#runs')) return;
  if (followed && (followed.state === 'queued' || followed.state === 'running')) {
    /* the server answers as soon as the run's state changes (or with its
       progress after a while): the end is seen at once, without polling */
    const asked = state.runsAsked;
    api(`/api/runs/${followed.id}/wait?state=${followed.state}&ms=${FOLLOW_WAIT_MS}`)
      .catch(() => new Promise((r) => setTimeout(r, POLL_MS)))
      .then((run) => {
        if (asked !== state.runsAsked || !location.hash.startsWith('#runs')) return undefined;
        if (run && run.state === 'done' && run.kind === 'run' && state.followRun === run.id) {
          /* ended well: its results at once, without listing the runs again */
          state.followRun = null;
          say(`run ${run.id} of ${run.herd} done`);
          location.hash = `#results/${run.id}`;
          return undefined;
        }
        return refreshRuns();
      })
      .catch((e) => say(e.message));
    return;
  }
  state.pollTimer = setTimeout(() => refreshRuns().catch((e) => say(e.message)), POLL_MS);
}

async function deleteRun(id) {
  if (!window.confirm(`Delete run ${id} and its files?`)) return;
  await api(`/api/runs/${id}`, { method: 'DELETE' });
  say(`run ${id} deleted`);
  await refreshRuns();
}

async function pruneRuns() {
  const keep = Number($('runs-keep').value);
  if (!Number.isInteger(keep) || keep < 0) throw new Error('keep: a whole number of runs');
  if (!window.confirm(`Delete every ended run but the newest ${keep}?`)) return;
  const { deleted } = await api('/api/runs', { method: 'DELETE', body: { keep_last: keep } });
  say(`${deleted.length} run${deleted.length === 1 ? '' : 's'} deleted`);
  await refreshRuns();
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
  const box = el('figure', { class: 'chart', 'data-chart': title }, el('h3', { text: title }));
  container.append(box);
  const data = [x, ...series.map((s) => s.values.map((v) => (v === null ? null : v)))];
  /* Bars get an axis of their own on the left; lines share the right one. */
  const twoAxes = series.some((s) => s.bars) && series.some((s) => !s.bars);
  const plot = new uPlot({
    ...(opts.bands ? { bands: opts.bands } : {}),
    width: CHART_WIDTH, height: CHART_HEIGHT,
    scales: { x: { time: false }, ...(twoAxes ? { bars: {}, y: {} } : {}) },
    axes: [{ label: opts.xlabel || '', ...(opts.fractionalX ? {} : { incrs: opts.xSteps || WHOLE_STEPS }) },
      twoAxes ? { label: opts.barlabel || opts.ylabel || '', size: 60, scale: 'bars' } : { label: opts.ylabel || '', size: 60 },
      ...(twoAxes ? [{ label: opts.ylabel || '', size: 70, scale: 'y', side: 1, grid: { show: false } }] : [])],
    series: [{ label: opts.xlabel || 'x' }, ...series.map((s, i) => ({
      label: s.label, stroke: SERIES_COLOURS[i % SERIES_COLOURS.length], width: 2,
      fill: s.fill ? SERIES_COLOURS[i % SERIES_COLOURS.length] + '55' : undefined,
      ...(s.colour ? { stroke: s.colour, width: s.width || 1 } : {}),
      paths: s.bars ? uPlot.paths.bars({ size: [0.7, 40] }) : s.dots ? () => null : undefined,
      scale: twoAxes ? (s.bars ? 'bars' : 'y') : 'y',
      points: s.dots ? { show: true, size: 6 } : { show: false },
    }))],
  }, data, box);
  box.dataset.drawn = String(plot.data[0].length > 0);
  /* The chart's data as a table: its text alternative, and for print. */
  const table = el('table', { class: 'figures chart-data' },
    el('caption', { text: `${title}: data` }),
    el('thead', {}, el('tr', {}, el('th', { scope: 'col', text: opts.xlabel || 'x' }), ...series.map((s) => el('th', { scope: 'col', text: s.label })))),
    el('tbody', {}, ...x.map((xv, k) => el('tr', {}, el('th', { scope: 'row', text: String(xv) }),
      ...series.map((s) => el('td', { class: 'num', text: fmt(s.values[k]) }))))));
  const details = el('details', { class: 'chart-table' }, el('summary', { text: 'Data as a table' }),
    el('div', { class: 'scroll', tabindex: '0', role: 'region', 'aria-label': `${title} data` }, table));
  const png = el('button', { class: 'link', text: 'PNG', 'aria-label': `Download ${title} as PNG`, onclick: () => {
    const canvas = box.querySelector('canvas');
    canvas.toBlob((b) => offerDownload(`${title.replace(/[^A-Za-z0-9]+/g, '_')}.png`, b), 'image/png');
  } });
  box.querySelector('h3').append(' ', png);
  box.append(details);
  return plot;
}

/* Where no cows remain the curve ends instead of dropping to 0: months
   without cows, and the run of zeros at the end, are left out. */
function untilEmpty(values, present) {
  const NO_COWS = 1e-6;
  const out = values.map((v, i) => (present[i] > NO_COWS ? v : null));
  for (let i = out.length - 1; i >= 0 && (out[i] === null || out[i] === 0); i--) out[i] = null;
  return out;
}

/* In place of a chart by month in milk when the herd place holds no cows. */
function noCows(container, title) {
  container.append(el('figure', { class: 'chart no-cows', 'data-chart': title, 'data-drawn': 'empty' }, el('h3', { text: title }),
    el('p', { class: 'hint', text: 'No cows: the best policy leaves the herd place empty, so there is nothing to show by month in milk.' })));
}

function drawRunCharts(container, r) {
  container.replaceChildren();
  const m = r.mim;
  const NO_COWS = 1e-6;
  chart(container, 'Cash flow of one herd place', r.monthly.t, [
    { label: 'monthly cash flow', values: r.monthly.cash, bars: true },
    { label: 'running sum', values: r.monthly.sumcash },
  ], { xlabel: 'month of the projection', barlabel: 'money per month', ylabel: 'running sum' });
  const present = m.open_dim.map((v, i) => (v || 0) + (m.preg_dim[i] || 0));
  const byMim = present.some((v) => v > NO_COWS) ? chart : noCows;
  byMim(container, 'Herd structure by month in milk', m.mim, [
    { label: 'open', values: m.open_dim, fill: true },
    { label: 'pregnant', values: m.preg_dim, fill: true },
  ], { xlabel: 'month in milk', ylabel: 'cows per place' });
  byMim(container, 'Culling by month in milk', m.mim, [
    { label: 'open, voluntary', values: untilEmpty(m.hz_open_repl, present) },
    { label: 'open, involuntary', values: untilEmpty(m.hz_open_pind, present) },
    { label: 'pregnant, voluntary', values: untilEmpty(m.hz_preg_repl, present) },
    { label: 'pregnant, involuntary', values: untilEmpty(m.hz_preg_pind, present) },
  ], { xlabel: 'month in milk', ylabel: 'share culled per month' });
  byMim(container, 'Lactation curve of the herd', m.mim, [
    { label: 'milk per cow per day', values: untilEmpty(m.lactationcurve, present) },
  ], { xlabel: 'month in milk', ylabel: `${r.kg ? 'kg' : 'lb'} per day` });
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
  if (!state.results || state.results.id !== id) { $('sim-chart').replaceChildren(); $('sim-message').textContent = ''; $('sim-download').hidden = true; }
  state.results = { id, herd: run.herd, data: results };
  drawYearly(results);
  const emptyPlace = results.empty_place;
  $('results-loss').hidden = !emptyPlace;
  if (emptyPlace) {
    const net = results.yearly.find((r) => r.name === 'eaa_cyr');
    const loss = net ? -net.values[net.values.length - 1] : null;
    $('results-loss').textContent = 'At these prices no cow pays her place: the best policy leaves the herd place empty, ' +
      'so no milk is sold and the herd\u2019s figures read 0. ' +
      (loss !== null && loss > 0 ? `The empty place still costs ${fmtFigure(loss, net.unit_code)} ${net.unit || ''}. ` : '') +
      'Raise the milk price or lower the costs and run again.';
  }
  drawRunCharts($('charts'), results);
  $('run-files').replaceChildren(...files.map((f) => el('li', {},
    el('a', { href: `/api/runs/${id}/files/${encodeURIComponent(f.name)}?download=1`, text: f.name }),
    ` (${(f.size / 1024).toFixed(0)} kB)`)));
}

/* The yearly figures by group, plain names first, the model's name beside;
   one column for a steady state (its years are the same). */
function yearlyColumns(results) {
  const years = results.yearly.length ? results.yearly[0].values.length : 0;
  return results.analysis === STEADY_STATE && years > 0 ? [{ label: 'per year (steady state)', index: years - 1 }]
    : Array.from({ length: years }, (_, i) => ({ label: `year ${i + 1}`, index: i }));
}

function drawYearly(results) {
  const cols = yearlyColumns(results);
  $('yearly').tHead.replaceChildren(el('tr', {}, el('th', { scope: 'col', text: 'figure' }), el('th', { scope: 'col', text: 'unit' }),
    ...cols.map((c) => el('th', { scope: 'col', class: 'num', text: c.label }))));
  const rows = [];
  for (const [group, title] of FIGURE_GROUPS) {
    const members = results.yearly.filter((r) => (r.group || 'money') === group);
    if (!members.length) continue;
    rows.push(el('tr', { class: 'group' }, el('th', { scope: 'rowgroup', colspan: String(cols.length + 2), text: title })));
    for (const row of members) {
      rows.push(el('tr', { 'data-figure': row.name, title: row.help || '' },
        el('th', { scope: 'row', class: 'figure' }, el('span', { class: 'plain', text: row.plain || row.name }), ' ',
          el('span', { class: 'model-name', text: row.name })),
        el('td', { class: 'unit', text: row.unit || '' }),
        ...cols.map((c) => el('td', { class: 'num', text: fmtFigure(row.values[c.index], row.unit_code) }))));
    }
  }
  $('yearly').tBodies[0].replaceChildren(...rows);
}

function yearlyCsv() {
  const r = state.results;
  if (!r) throw new Error('open a run\u2019s results first');
  const years = r.data.yearly.length ? r.data.yearly[0].values.length : 0;
  const lines = [['figure', 'name', 'unit', 'group', ...Array.from({ length: years }, (_, i) => `year${i + 1}`)].join(',')];
  for (const row of r.data.yearly) lines.push([row.name, row.plain || '', row.unit || '', row.group || '', ...row.values].map(csvField).join(','));
  offerDownload(`${r.herd.replace(/\.bio$/, '')}-${r.id}-yearly.csv`, lines.join('\n') + '\n');
}

/* ---- simulation of a finished run ---------------------------------------- */

/* Simulates herds of real cows under the run's policy, then draws the fan of
   cash per cow: the mean and the 5-95 % band by year. */
async function simulateRun() {
  const r = state.results;
  if (!r) throw new Error('open a run\u2019s results first');
  const body = { cows: Number($('sim-cows').value), years: Number($('sim-years').value), replicates: Number($('sim-replicates').value) };
  const { id } = await api(`/api/runs/${r.id}/simulate`, { method: 'POST', body });
  const bar = $('sim-progress');
  bar.hidden = false;
  $('sim-message').textContent = `Simulating ${body.replicates} herds of ${body.cows} cows over ${body.years} years\u2026`;
  let run;
  for (;;) {
    run = await api(`/api/runs/${id}`);
    bar.value = run.progress;
    if (run.state !== 'queued' && run.state !== 'running') break;
    await new Promise((res) => setTimeout(res, POLL_MS));
  }
  bar.hidden = true;
  if (run.state !== 'done') { $('sim-message').textContent = `The simulation did not finish: ${run.message}`; return; }
  const rows = parseCsv(await api(`/api/runs/${id}/files/simulation.csv`));
  drawSimulation(rows, id);
}

function drawSimulation(rows, id) {
  const [header, ...lines] = rows;
  const col = (name) => header.indexOf(name);
  const cash = lines.filter((l) => l[col('figure')] === 'cash_cyr' && l[col('scope')] === 'cow');
  const years = cash.map((l) => Number(l[col('year')]));
  const pick = (name) => cash.map((l) => (l[col(name)] === '' ? null : Number(l[col(name)])));
  const box = $('sim-chart');
  box.replaceChildren();
  chart(box, 'Cash per cow, simulated herds', years, [
    { label: 'mean', values: pick('mean'), colour: SERIES_COLOURS[0], width: 2 },
    { label: '5 %', values: pick('p5'), colour: '#7aa9bb' },
    { label: '95 %', values: pick('p95'), colour: '#7aa9bb' },
  ], { xlabel: 'year', ylabel: 'money per cow per year', bands: [{ series: [3, 2], fill: '#1f6f8b22' }] });
  $('sim-message').textContent = `${cash.length} years simulated (run ${id}); the band holds 90 % of the simulated herds.`;
  const link = $('sim-download');
  link.href = `/api/runs/${id}/files/simulation.csv?download=1`;
  link.hidden = false;
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
  const head = el('tr', {}, el('th', { scope: 'col', text: 'figure (last year)' }), el('th', { scope: 'col', text: 'unit' }), el('th', { scope: 'col', text: `${runs[0].herd}` }));
  for (const run of runs.slice(1)) head.append(el('th', { scope: 'col', text: run.herd }), el('th', { scope: 'col', text: 'difference' }), el('th', { scope: 'col', text: '%' }));
  $('compare-table').tHead.replaceChildren(head);
  const csv = [['figure', 'name', 'unit', runs[0].herd, ...runs.slice(1).flatMap((r) => [r.herd, 'difference', 'percent'])].map(csvField).join(',')];
  const order = (fig) => FIGURE_GROUPS.findIndex(([g]) => g === fig.group);
  const inGroups = results[0].yearly.map((fig, i) => [fig, i]).sort((a, b) => order(a[0]) - order(b[0]) || a[1] - b[1]).map(([fig]) => fig);
  $('compare-table').tBodies[0].replaceChildren(...inGroups.map((fig) => {
    const name = fig.name;
    const base = last(fig);
    const row = el('tr', { 'data-figure': name, title: fig.help || '' },
      el('th', { scope: 'row', class: 'figure' }, el('span', { class: 'plain', text: fig.plain || name }), ' ', el('span', { class: 'model-name', text: name })),
      el('td', { class: 'unit', text: fig.unit || '' }),
      el('td', { class: 'num', text: fmtFigure(base, fig.unit_code) }));
    const line = [name, fig.plain || '', fig.unit || '', base];
    for (const res of results.slice(1)) {
      const v = last(res.yearly.find((r) => r.name === name));
      const d = v !== null && base !== null ? v - base : null;
      const pct = d === null || !base ? null : (100 * d) / Math.abs(base);
      /* Coloured by what the change means for the farm, not by its sign. */
      const good = d && Math.abs(d) > 5e-5 ? Math.sign(d) * (fig.better || 0) : 0;
      const cls = good > 0 ? 'num good' : good < 0 ? 'num bad' : 'num';
      const shownDiff = d === null ? '' : (fig.unit_code === '%' || fig.unit_code === '%/year'
        ? `${(100 * d).toFixed(1)} points` : fmtFigure(d, fig.unit_code));
      row.append(el('td', { class: 'num', text: fmtFigure(v, fig.unit_code) }), el('td', { class: cls, text: shownDiff }),
        el('td', { class: cls, text: pct === null ? '' : pct.toFixed(1) }));
      line.push(v, d, pct === null ? '' : pct.toFixed(2));
    }
    csv.push(line.map(csvField).join(','));
    return row;
  }));
  state.compareCsv = { text: csv.join('\n') + '\n', name: `compare-${runs.map((r) => r.herd.replace(/\.bio$/, '')).join('-')}.csv` };
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

function compareCsv() {
  if (!state.compareCsv) throw new Error('compare runs first');
  offerDownload(state.compareCsv.name, state.compareCsv.text);
}

/* ---- cows --------------------------------------------------------------- */

async function showCows() {
  const [herds, lists] = await Promise.all([api('/api/herds'), api('/api/cowlists')]);
  const pick = $('cows-list');
  const picked = pick.value;
  pick.replaceChildren(el('option', { value: '', text: 'the file chosen below' }), ...lists.map((n) => el('option', { value: n, text: n })));
  if (picked && lists.includes(picked)) pick.value = picked;
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
  const inFolder = $('cows-list').value;
  if (!file && !inFolder) throw new Error('choose a cow list first');
  const body = { herd: $('cows-herd').value, month: $('cows-month').value, ...(inFolder ? { list: inFolder } : { csv: await file.text() }) };
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
  renderCows(parseCsv(text).filter((r) => r.length > 1 || r[0] !== ''), body.herd);
  $('cows-download').hidden = false;
}

/* Figures with decimals shown to the cent; whole numbers (ids, counts) as written. */
function shownCell(text, numeric) {
  if (!numeric || text === '' || !text.includes('.')) return text;
  return Number(text).toLocaleString('en-US', { minimumFractionDigits: 2, maximumFractionDigits: 2 });
}

/* The whole ranked list, or the decisions of now on their own: the cows
   to cull now (replace) and the cows to breed now. */
const COW_VIEWS = { all: () => true, cull: (d) => d === 'replace', breed: (d) => d === 'breed' };

function renderCows(rows, herd) {
  const [header, ...cows] = rows;
  state.cowList = { header, cows, herd, sortCol: header.indexOf('rank'), asc: true,
    numeric: header.map((_, c) => cows.every((r) => r[c] === '' || r[c] === undefined || !Number.isNaN(Number(r[c])))) };
  state.cowView = state.cowView || 'all';
  drawCows();
  const col = (name) => header.indexOf(name);
  const count = (d) => cows.filter((r) => r[col('decision')] === d).length;
  const valued = cows.filter((r) => r[col('rpo')] !== '' && r[col('rpo')] !== undefined).map((r) => Number(r[col('rpo')]));
  const total = valued.reduce((a, b) => a + b, 0);
  $('cows-summary').replaceChildren(el('p', { text:
    `${cows.length} cows: ${count('keep')} keep, ${count('breed')} breed now, ${count('replace')} cull now; ` +
    `total retention pay-off ${fmt(total)}, average ${fmt(valued.length ? total / valued.length : null)}` }));
}

function drawCows() {
  const list = state.cowList;
  for (const b of document.querySelectorAll('#cows-views button')) b.setAttribute('aria-pressed', String(b.dataset.view === state.cowView));
  if (!list) return;
  const { header, numeric } = list;
  const table = $('cows-table');
  const decision = header.indexOf('decision');
  const shown = list.cows.filter((r) => COW_VIEWS[state.cowView](r[decision]));
  const sortCol = list.sortCol;
  const sorted = [...shown].sort((a, b) => {
    const x = a[sortCol] ?? '', y = b[sortCol] ?? '';
    const d = numeric[sortCol] ? (x === '' ? Infinity : Number(x)) - (y === '' ? Infinity : Number(y)) : String(x).localeCompare(String(y));
    return list.asc ? d : -d;
  });
  const sortBy = (c) => { list.asc = c === list.sortCol ? !list.asc : true; list.sortCol = c; drawCows(); };
  table.tHead.replaceChildren(el('tr', {}, ...header.map((h, c) => el('th', {
    scope: 'col', 'data-column': h, class: c === sortCol ? (list.asc ? 'sorted-asc' : 'sorted-desc') : '',
    'aria-sort': c === sortCol ? (list.asc ? 'ascending' : 'descending') : 'none',
  }, el('button', { class: 'sort', text: COW_COLUMNS[h] || h, title: h, onclick: () => sortBy(c) })))));
  table.tBodies[0].replaceChildren(...sorted.map((r) => el('tr', {},
    ...header.map((_, c) => el('td', { class: numeric[c] ? 'num' : '', text: shownCell(r[c] ?? '', numeric[c]) })))));
  const what = { all: 'all cows, ranked', cull: 'cows to cull now', breed: 'cows to breed now' }[state.cowView];
  $('cows-caption').textContent = `${what}: ${shown.length}`;
}

/* The ranked list as CSV for the farm: money rounded to whole units, named after the herd. */
function cowsCsv() {
  const list = state.cowList;
  if (!list) throw new Error('rank the cows first');
  const money = list.header.map((h) => COW_MONEY.includes(h));
  const lines = [list.header.map(csvField).join(',')];
  for (const r of list.cows) lines.push(r.map((v, c) => (money[c] && v !== '' && !Number.isNaN(Number(v)) ? String(Math.round(Number(v))) : v)).map(csvField).join(','));
  offerDownload(`${list.herd.replace(/\.bio$/, '')}-cows-ranked.csv`, lines.join('\n') + '\n');
}

/* ---- views loaded when first opened (web/calibrate.js, web/sweep.js) ----- */

/* The script of a view the herds list does not need is fetched the first
   time the view is opened, so the first page comes up without it. */
const lateViews = {};
function openLateView(script, show) {
  return (arg) => {
    if (!lateViews[script]) {
      lateViews[script] = new Promise((resolve, reject) => document.head.append(el('script', { src: script, onload: resolve,
        onerror: () => { delete lateViews[script]; reject(new Error(`${script} could not be loaded`)); } })));
    }
    return lateViews[script].then(() => window[show](arg));
  };
}
const openSweeps = openLateView('/sweep.js', 'showSweeps');
const openCalibrate = openLateView('/calibrate.js', 'showCalibrate');

/* ---- start -------------------------------------------------------------- */

function guard(fn) {
  return () => Promise.resolve().then(fn).catch((e) => say(e.message));
}

window.addEventListener('hashchange', route);
document.addEventListener('DOMContentLoaded', () => {
  $('new-create').addEventListener('click', guard(createHerd));
  $('upload-send').addEventListener('click', guard(uploadHerd));
  $('edit-validate').addEventListener('click', guard(validate));
  $('edit-save').addEventListener('click', guard(save));
  $('edit-revert').addEventListener('click', guard(revert));
  $('runs-prune').addEventListener('click', guard(pruneRuns));
  $('yearly-csv').addEventListener('click', guard(yearlyCsv));
  $('compare-csv').addEventListener('click', guard(compareCsv));
  $('cows-download').addEventListener('click', guard(cowsCsv));
  $('results-print').addEventListener('click', () => window.print());
  $('sim-go').addEventListener('click', guard(simulateRun));
  for (const b of document.querySelectorAll('#cows-views button')) b.addEventListener('click', () => { state.cowView = b.dataset.view; drawCows(); });
  window.addEventListener('beforeunload', (e) => { if (unsaved()) { e.preventDefault(); e.returnValue = ''; } });
  $('edit-run').addEventListener('click', guard(saveAndRun));
  $('compare-go').addEventListener('click', guard(compare));
  $('cows-go').addEventListener('click', guard(rankCows));
  route();
  document.body.dataset.ready = 'true';
});
