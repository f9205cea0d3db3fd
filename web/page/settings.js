// The windows' settings on the console's page: one form per window, grouped
// as the window groups them, saved as the window's save button saves. Each
// field remembers the value it was loaded with ("was"); the program refuses
// a save on a value changed elsewhere since, and the field then shows the
// current value. On a phone a window opens one group at a time, and its Save
// button stays in view at the bottom. Uses app.js's csrf.
'use strict';

const settingsForms = {};

function el(tag, props, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props || {});
  e.append(...children);
  return e;
}

function characters(n) { return n === 1 ? '1 character' : `${n} characters`; }

// What the field takes, and what the window makes of an empty one: said
// beside it before anything is saved.
function limitsOf(s) {
  const parts = [];
  if (s.kind === 'text') {
    if (s.digits) parts.push('digits only');
    if (s.dtmf) parts.push('DTMF keys 0 to 9, *, #, A to D');
    if (s.least !== undefined) parts.push(s.most === undefined ? `at least ${s.least}` : `${s.least} to ${s.most}`);
    parts.push(`at most ${characters(s.limit)}`);
    if (s.upper) parts.push('kept in capitals');
    if (s.empty !== undefined) parts.push(`empty counts as ${s.empty}`);
  } else if (s.kind === 'bar') {
    parts.push(`${s.least} to ${s.most}`);
  }
  return parts.length ? ` (${parts.join(', ')})` : '';
}

// A control the window holds still is shown held, with the reason.
function showLocked(input, why) {
  input.disabled = !!why;
  const note = document.getElementById(input.id.replace(/^s-/, 'l-'));
  if (note) note.textContent = why ? `Not changeable now: ${why}.` : '';
}

// The value a field holds now, as the file stores it.
function fieldValue(input) {
  if (input.type === 'checkbox') return input.indeterminate ? input.dataset.was : (input.checked ? '1' : '0');
  if (input.type === 'radio') return input.checked ? 'True' : 'False';
  return input.value;
}

function showValue(input, value) {
  input.dataset.was = value;
  if (input.type === 'checkbox') {
    input.indeterminate = value === '2';
    input.checked = value !== '0';
  } else if (input.type === 'radio') {
    input.checked = value.toLowerCase() === 'true';
  } else {
    input.value = value;
  }
  input.dataset.dirty = '';
}

function setError(win, key, text) {
  const input = document.getElementById(`s-${win}-${key}`);
  const error = document.getElementById(`e-${win}-${key}`);
  if (!input || !error) return;
  error.textContent = text || '';
  if (text) input.setAttribute('aria-invalid', 'true');
  else input.removeAttribute('aria-invalid');
}

function settingField(win, s) {
  const id = `s-${win}-${s.key}`;
  const hint = el('p', { className: 'hint', id: `d-${win}-${s.key}`, textContent: s.meaning + limitsOf(s) });
  const error = el('p', { className: 'error', id: `e-${win}-${s.key}` });
  const locked = el('p', { className: 'locked', id: `l-${win}-${s.key}` });
  let input;
  if (s.kind === 'check') {
    input = el('input', { type: 'checkbox', id });
  } else if (s.kind === 'option') {
    input = el('input', { type: 'radio', id, name: `${win}-${s.group}` });
  } else if (s.kind === 'bar') {
    input = el('input', { type: 'number', id, min: s.least, max: s.most, step: 1 });
  } else {
    input = el('input', { type: 'text', id, autocomplete: 'off', spellcheck: false, maxLength: s.limit });
    // The phone's keyboard the box needs: digits, or the keypad's keys.
    if (s.digits) input.inputMode = 'numeric';
    else if (s.dtmf) input.inputMode = 'tel';
    if (s.upper || s.dtmf) input.setAttribute('autocapitalize', 'characters');
  }
  input.dataset.key = s.key;
  input.setAttribute('aria-describedby', `${hint.id} ${locked.id} ${error.id}`);
  input.addEventListener('input', () => { input.dataset.dirty = '1'; });
  input.addEventListener('change', () => { input.dataset.dirty = '1'; });
  showValue(input, s.value);
  const label = el('label', { htmlFor: id, textContent: s.label });
  const box = el('div', { className: `setting ${s.kind}` });
  if (s.kind === 'check' || s.kind === 'option') box.append(el('div', { className: 'pair' }, input, label), hint, locked, error);
  else box.append(label, input, hint, locked, error);
  showLocked(input, s.locked);
  return box;
}

function drawSettings(data) {
  const root = document.getElementById('settings');
  for (const w of data.windows) {
    const form = el('form', { id: `f-${w.id}`, noValidate: true });
    if (w.note) form.append(el('p', { className: 'note', textContent: w.note }));
    // One group open at a time: a phone shows one screenful, not the window.
    const groups = [];
    w.groups.forEach((g, i) => {
      const heading = el('summary', { id: `g-${w.id}-${i}`, textContent: g.name });
      const set = el('div', { className: 'fields', role: 'group' });
      set.setAttribute('aria-labelledby', heading.id);
      for (const s of g.settings) set.append(settingField(w.id, s));
      const group = el('details', { className: 'group', open: w.groups.length === 1 }, heading, set);
      group.addEventListener('toggle', () => {
        if (group.open) for (const other of groups) if (other !== group) other.open = false;
      });
      groups.push(group);
      form.append(group);
    });
    const status = el('p', { className: 'save-status', id: `st-${w.id}`, role: 'status' });
    form.append(el('div', { className: 'buttons save-bar' },
      el('button', { type: 'submit', textContent: `Save ${w.title.split(':')[0]} settings` }), status));
    form.addEventListener('submit', (event) => { event.preventDefault(); saveWindow(w.id, w.file); });
    settingsForms[w.id] = form;
    root.append(el('details', { className: 'window', id: `w-${w.id}` },
      el('summary', { textContent: `${w.title} (${w.file})` }), form));
  }
}

// Another page saved: fields this page has not touched show the new values.
function refreshSettings(data) {
  for (const w of data.windows)
    for (const g of w.groups)
      for (const s of g.settings) {
        const input = document.getElementById(`s-${w.id}-${s.key}`);
        if (input && !input.dataset.dirty) showValue(input, s.value);
        if (input) showLocked(input, s.locked);
      }
}

async function loadSettings(first) {
  const r = await fetch('/api/settings', { credentials: 'same-origin' }).catch(() => null);
  if (!r || !r.ok) return;
  const data = await r.json();
  if (first) drawSettings(data); else refreshSettings(data);
}

async function saveWindow(win, file) {
  const form = settingsForms[win];
  const status = document.getElementById(`st-${win}`);
  const changes = [];
  for (const input of form.querySelectorAll('input[data-key]')) {
    setError(win, input.dataset.key, '');
    const value = fieldValue(input);
    if (value === input.dataset.was) continue;
    if (input.type === 'radio' && value !== 'True') continue;   // turned off by the one turned on
    changes.push({ key: input.dataset.key, value, was: input.dataset.was });
  }
  if (!csrf) { status.textContent = 'Not connected to the station yet.'; return; }
  status.textContent = 'Saving…';
  let r, answer;
  try {
    r = await fetch('/api/settings', {
      method: 'POST', credentials: 'same-origin',
      headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': csrf },
      body: JSON.stringify({ window: win, changes }),
    });
    if (r.status === 401) { location.href = '/login'; return; }
    answer = await r.json().catch(() => ({}));
  } catch (e) {
    status.textContent = 'The station cannot be reached; nothing was saved.';
    return;
  }
  const fields = answer.fields || {};
  if (answer.values) {
    for (const [key, value] of Object.entries(answer.values)) {
      const input = document.getElementById(`s-${win}-${key}`);
      // Saved, or changed elsewhere: the field shows what the window holds.
      if (input && (r.ok || key in fields || !input.dataset.dirty)) showValue(input, value);
    }
  }
  if (r.ok) {
    status.textContent = answer.note ? `Saved to ${file}. ${answer.note}` : `Saved to ${file}.`;
    loadSettings(false);
    return;
  }
  for (const [key, text] of Object.entries(fields)) setError(win, key, text);
  status.textContent = answer.error || 'Refused.';
  const first = Object.keys(fields)[0];
  if (first) {
    const input = document.getElementById(`s-${win}-${first}`);
    const group = input.closest('details.group');
    if (group) group.open = true;
    input.focus();
  }
}

window.settingsChanged = () => loadSettings(false);
document.addEventListener('DOMContentLoaded', () => loadSettings(true));
