/*
 * sweep.js -- the workbench's view of a sweep database.
 *
 * Loaded by app.js when the Sweeps view is first opened.  Lists the sweep
 * databases of the server's sweeps folder; for one of them, plots a yearly
 * figure of a chosen year against one varied item, optionally one line per
 * value of a second item.  Where several scenarios share a point (other
 * items varied too) the point is their mean.  The server reads the files
 * read-only; the chart's data table is its text alternative.
 */
'use strict';

/* An x axis with more values than this comes from a sampled design: its
   points are shown as dots, not joined. */
const SWEEP_JOINED_VALUES = 50;
/* Steps between ticks of an item of whole numbers (cull costs, days). */
const SWEEP_WHOLE_STEPS = [1, 2, 5, 10, 20, 25, 50, 100, 200, 250, 500, 1000, 2000, 5000, 10000];

const sweepState = { info: null };

function sweepFigure(name) {
  return sweepState.info.figures.find((f) => f.name === name);
}

async function showSweeps(name) {
  const list = await api('/api/sweeps');
  const when = (t) => new Date(t * 1000).toLocaleString('en-GB', { dateStyle: 'short', timeStyle: 'short' });
  $('sweep-list').tBodies[0].replaceChildren(...list.map((d) => el('tr', { 'data-sweep': d.name },
    el('td', {}, d.error ? d.name : el('a', { href: `#sweeps/${encodeURIComponent(d.name)}`, text: d.name })),
    el('td', { class: 'num', text: d.error ? '' : String(d.scenarios) }),
    el('td', { text: d.error ? d.error : d.varied.join(', ') }),
    el('td', { text: when(d.modified) }),
    el('td', { class: 'num', text: `${(d.size / 1024).toFixed(0)} kB` }))));
  $('sweep-none').hidden = list.length > 0;
  $('sweep-body').hidden = !name;
  if (!name) return;
  const info = await api(`/api/sweeps/${encodeURIComponent(name)}`);
  sweepState.info = info;
  $('sweep-title').textContent = `${info.name}: ${info.scenarios} scenarios, ${info.finished} ran to their end`;
  fillSweepChoices();
  await Promise.all([loadCharts(), plotSweep()]);
}

function fillSweepChoices() {
  const info = sweepState.info;
  const figure = $('sweep-figure');
  const groups = new Map(FIGURE_GROUPS.map(([code, title]) => [code, el('optgroup', { label: title })]));
  const other = el('optgroup', { label: 'Other' });
  for (const f of info.figures) {
    const option = el('option', { value: f.name, text: f.unit ? `${f.plain} (${f.unit})` : f.plain, title: f.help || f.name });
    (groups.get(f.group) || other).append(option);
  }
  figure.replaceChildren(...groups.values(), other);
  [...figure.querySelectorAll('optgroup')].filter((g) => !g.children.length).forEach((g) => g.remove());
  const items = info.varied.map((v) => el('option', { value: v.name, text: v.values ? `${v.name} (${v.count} values)` : `${v.name} (${v.count} values, ${fmt(v.min)}..${fmt(v.max)})` }));
  $('sweep-x').replaceChildren(...items);
  fillSweepYears();
  fillSweepSeries();
}

function fillSweepYears() {
  const f = sweepFigure($('sweep-figure').value);
  const year = $('sweep-year').value;
  $('sweep-year').replaceChildren(...(f ? f.years : []).map((y) => el('option', { value: String(y), text: `year ${y}` })));
  if (f && f.years.includes(Number(year))) $('sweep-year').value = year;
}

/* A second item gives a line per value: only items with few values. */
function fillSweepSeries() {
  const info = sweepState.info;
  const x = $('sweep-x').value;
  const by = $('sweep-by').value;
  const choices = info.varied.filter((v) => v.name !== x && v.count <= info.most_series);
  $('sweep-by').replaceChildren(el('option', { value: '', text: '(none: one line)' }),
    ...choices.map((v) => el('option', { value: v.name, text: `${v.name} (${v.count} values)` })));
  if (choices.some((v) => v.name === by)) $('sweep-by').value = by;
}

/* Shares and rates are kept as fractions in the database and shown as %. */
function sweepScale(unitCode) {
  return unitCode === '%' || unitCode === '%/year' ? 100 : 1;
}

async function plotSweep() {
  const info = sweepState.info;
  const figure = $('sweep-figure').value;
  const query = new URLSearchParams({ figure, year: $('sweep-year').value, x: $('sweep-x').value, by: $('sweep-by').value });
  const [data] = await Promise.all([api(`/api/sweeps/${encodeURIComponent(info.name)}/points?${query}`), loadCharts()]);
  const f = sweepFigure(figure);
  const scale = sweepScale(f.unit_code);
  const xs = [...new Set(data.points.map((p) => p[0]).filter((v) => v !== null))].sort((a, b) => a - b);
  const keys = data.by === null ? [null] : [...new Set(data.points.map((p) => p[1]))].sort((a, b) => a - b);
  const at = new Map(xs.map((v, i) => [v, i]));
  const joined = xs.length <= SWEEP_JOINED_VALUES;
  const series = keys.map((k) => {
    const values = xs.map(() => null);
    for (const [x, b, mean] of data.points) if (b === k && at.has(x)) values[at.get(x)] = mean === null ? null : mean * scale;
    return { label: k === null ? f.plain : `${data.by} = ${k}`, values, dots: !joined };
  });
  const box = $('sweep-chart');
  box.replaceChildren();
  const title = `${f.plain}, year ${data.year}, against ${data.x}`;
  chart(box, title, xs, series, { xlabel: data.x, ylabel: f.unit || f.name, fractionalX: !xs.every(Number.isInteger), xSteps: SWEEP_WHOLE_STEPS });
  const most = data.points.reduce((a, p) => Math.max(a, p[3]), 0);
  $('sweep-message').textContent = [
    `${f.plain}: ${f.help || f.name} (${f.name}_y${data.year} in the database).`,
    most > 1 ? `Each point is the mean of the scenarios that share it (up to ${most}): the other varied items are averaged.` : '',
    data.left_out ? `${data.left_out} scenario${data.left_out === 1 ? '' : 's'} left out (failed, not run or without this figure).` : '',
    data.truncated ? 'Only the first points are shown.' : '',
  ].filter(Boolean).join(' ');
}

function sweepGuard(fn) {
  return () => Promise.resolve().then(fn).catch((e) => say(e.message));
}

$('sweep-figure').addEventListener('change', () => { fillSweepYears(); });
$('sweep-x').addEventListener('change', () => { fillSweepSeries(); });
$('sweep-plot').addEventListener('click', sweepGuard(plotSweep));
window.showSweeps = showSweeps;
