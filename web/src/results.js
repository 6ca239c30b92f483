// Results: per file a status in words with the program's message behind
// it, the download, all of them as one zip, and the console text shown
// capped (its first lines; the whole text downloads as the program wrote it).
import { zipSync } from 'fflate';
import { T } from './text.js';

const $ = (id) => document.getElementById(id);
let reports = [];

const link = (name, blob) => Object.assign(document.createElement('a'), { textContent: name, download: name, href: URL.createObjectURL(blob) });

export function clear() {
  for (const a of document.querySelectorAll('#results a, #console-whole')) if (a.href.startsWith('blob:')) URL.revokeObjectURL(a.href);
  reports = [];
  $('results').replaceChildren();
  $('console-file').replaceChildren();
  $('console').textContent = '';
  $('console-more').textContent = '';
  $('zip').hidden = true;
  $('console-pick').hidden = true;
}

function showConsole(i) {
  const r = reports[i];
  $('console').textContent = r.head;
  const shown = r.head.split('\n').length;
  $('console-more').textContent = r.lines > shown ? T.moreLines(r.lines - shown) : '';
  const whole = $('console-whole');
  if (whole.href.startsWith('blob:')) URL.revokeObjectURL(whole.href);
  whole.href = URL.createObjectURL(r.console);
  whole.download = `${r.name.replace(/\.vmd$/i, '')}-console.txt`;
}

export function add(r) {
  const li = document.createElement('li');
  if (r.stopped) {
    li.className = 'failed';
    li.textContent = r.stopped;
    $('results').append(li);
    return;
  }
  reports.push(r);
  const status = Object.assign(document.createElement('span'), { className: r.state });
  status.textContent = ` ${T[r.state]}${r.reason ? `: ${r.reason}` : ''}`;
  li.append(r.output && r.state !== 'failed' ? link(r.output.name, r.output.blob) : r.name, status);
  if (r.twistKeyed) li.append(Object.assign(document.createElement('div'), { className: 'warn', textContent: T.twistKeyed }));
  // The program's message, laid out only when asked for.
  const details = document.createElement('details'), pre = document.createElement('pre');
  details.append(Object.assign(document.createElement('summary'), { textContent: T.details }), pre);
  details.ontoggle = () => { pre.textContent ||= r.head; };
  li.append(details);
  // In the files' order, whichever worker finished first.
  li.dataset.index = r.index;
  $('results').insertBefore(li, [...$('results').children].find((e) => Number(e.dataset.index) > r.index) || null);
  const option = new Option(r.name, reports.length - 1);
  option.dataset.index = r.index;
  $('console-file').add(option, [...$('console-file').options].find((o) => Number(o.dataset.index) > r.index));

}

// The console text is laid out once the batch is over: a page of text is the
// costliest thing the page draws, and nothing may hold it up while files convert.
export function done() {
  const first = reports.findIndex((r) => r.index === Math.min(...reports.map((x) => x.index)));
  if (first >= 0) $('console-file').value = first, showConsole(first), $('console-pick').hidden = false;
  const outputs = reports.filter((r) => r.output && r.state !== 'failed');
  $('zip').hidden = outputs.length < 2;
}

export function setup() {
  $('console-file').onchange = (e) => showConsole(Number(e.target.value));
  // Several results as one zip, stored as they are, dated now.
  $('zip').onclick = async () => {
    const mtime = new Date(), outputs = reports.filter((r) => r.output && r.state !== 'failed');
    const files = Object.fromEntries(await Promise.all(outputs.map(async (r) => [r.output.name, [new Uint8Array(await r.output.blob.arrayBuffer()), { level: 0, mtime }]])));
    const a = link('torsel-cnv.zip', new Blob([zipSync(files)], { type: 'application/zip' }));
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
  };
}
