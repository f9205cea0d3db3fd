// The windows' settings on the console's page: one form per window, grouped
// as the window groups them, saved as the window's save button saves. Each
// field remembers the value it was loaded with ("was"); the program refuses
// a save on a value changed elsewhere since, and the field then shows the
// current value. Uses app.js's csrf.
'use strict';

const settingsForms = {};

function el(tag, props, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props || {});
  e.append(...children);
  return e;
}

function limitsOf(s) {
  const parts = [];
  if (s.kind === 'text') {
    if (s.twoDigits) parts.push('two digits');
    else if (s.digits) parts.push('digits only');
    if (s.least !== undefined) parts.push(`${s.least} to ${s.most}`);
    if (!s.digits) parts.push(`at most ${s.limit} characters`);
    if (s.upper) parts.push('kept in capitals');
  } else if (s.kind === 'bar') {
    parts.push(`${s.least} to ${s.most}`);
  }
  return parts.length ? ` (${parts.join(', ')})` : '';
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
  let input;
  if (s.kind === 'check') {
    input = el('input', { type: 'checkbox', id });
  } else if (s.kind === 'option') {
    input = el('input', { type: 'radio', id, name: `${win}-${s.group}` });
  } else if (s.kind === 'bar') {
    input = el('input', { type: 'number', id, min: s.least, max: s.most, step: 1 });
  } else {
    input = el('input', { type: 'text', id, autocomplete: 'off', spellcheck: false });
    if (s.digits) input.inputMode = 'numeric';
  }
  input.dataset.key = s.key;
  input.setAttribute('aria-describedby', `${hint.id} ${error.id}`);
  input.addEventListener('input', () => { input.dataset.dirty = '1'; });
  input.addEventListener('change', () => { input.dataset.dirty = '1'; });
  showValue(input, s.value);
  const label = el('label', { htmlFor: id, textContent: s.label });
  const box = el('div', { className: `setting ${s.kind}` });
  if (s.kind === 'check' || s.kind === 'option') box.append(el('div', { className: 'pair' }, input, label), hint, error);
  else box.append(label, input, hint, error);
  return box;
}

function drawSettings(data) {
  const root = document.getElementById('settings');
  for (const w of data.windows) {
    const form = el('form', { id: `f-${w.id}`, noValidate: true });
    for (const g of w.groups) {
      const set = el('fieldset', {}, el('legend', { textContent: g.name }));
      for (const s of g.settings) set.append(settingField(w.id, s));
      form.append(set);
    }
    const status = el('p', { className: 'save-status', id: `st-${w.id}`, role: 'status' });
    form.append(el('div', { className: 'buttons' },
      el('button', { type: 'submit', textContent: `Save ${w.title.split(':')[0]} settings` })), status);
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
    status.textContent = `Saved to ${file}.`;
    return;
  }
  for (const [key, text] of Object.entries(fields)) setError(win, key, text);
  status.textContent = answer.error || 'Refused.';
  const first = Object.keys(fields)[0];
  if (first) document.getElementById(`s-${win}-${first}`).focus();
}

window.settingsChanged = () => loadSettings(false);
document.addEventListener('DOMContentLoaded', () => loadSettings(true));
