// The Mirelva web console: the station's state arrives over a WebSocket and
// is drawn as it changes; the buttons post to /api/action with the page's
// token. Nothing here is fetched from anywhere but the program itself.
'use strict';

const $ = (id) => document.getElementById(id);
let csrf = '';
let socket = null;
let shown = {};
const kLogLines = 200;

function say(text) { $('status').textContent = text; }

function setIndicator(id, on, onText, offText) {
  const el = $(id);
  const text = on ? onText : offText;
  if (el.textContent === text) return;
  el.textContent = text;
  el.classList.toggle('on', on);
  // Said once, by the live region, as the change happens.
  $('live').textContent = text;
}

// A log grows by lines added at its end, each an element of its own, so a
// screen reader reading the log meets the new line alone; only a log that
// was cleared or replaced is drawn anew.
function fillLog(id, lines, reset) {
  const box = $(id);
  const follow = box.scrollTop + box.clientHeight >= box.scrollHeight - 4;
  const added = lines.map((text) => { const div = document.createElement('div'); div.textContent = text; return div; });
  if (reset) box.replaceChildren(...added);
  else box.append(...added);
  while (box.childElementCount > kLogLines) box.firstElementChild.remove();
  if (follow) box.scrollTop = box.scrollHeight;
}

// Who connected, who left and what they said, in words, said once by the
// polite live region; the last few stay so nothing is cut off mid-sentence.
function announce(text) {
  const region = $('events');
  const p = document.createElement('p');
  p.textContent = text;
  region.append(p);
  while (region.childElementCount > 5) region.firstElementChild.remove();
}

function button(text, action, extra) {
  const b = document.createElement('button');
  b.type = 'button';
  b.textContent = text;
  b.addEventListener('click', () => send(Object.assign({ action }, extra)));
  return b;
}

function drawStations(stations) {
  const list = $('stations');
  list.replaceChildren();
  stations.forEach((s, i) => {
    if (!s.call) return;
    const li = document.createElement('li');
    li.append(button((s.connected ? 'Disconnect ' : 'Connect ') + s.call, 'station', { n: i + 1 }));
    const state = document.createElement('span');
    state.textContent = s.connected ? 'connected' : 'not connected';
    li.append(state);
    list.append(li);
  });
  if (!list.children.length) {
    const li = document.createElement('li');
    li.textContent = 'No stations are set in the DTMF window.';
    list.append(li);
  }
}

function drawGroups(groups) {
  const list = $('groups');
  list.replaceChildren();
  groups.forEach((calls, i) => {
    if (!calls.length) return;
    const li = document.createElement('li');
    const names = calls.map((c) => c.call).join(', ');
    li.append(button(`Connect group ${i + 1}`, 'group', { n: i + 1, on: true }),
              button(`Disconnect group ${i + 1}`, 'group', { n: i + 1, on: false }));
    const who = document.createElement('span');
    who.textContent = names;
    li.append(who);
    list.append(li);
  });
}

function draw(o) {
  if ('callsign' in o) $('callsign').textContent = o.callsign;
  if ('node' in o) $('node').textContent = 'Node: ' + o.node;
  if ('clock' in o) $('clock').textContent = o.clock;
  if ('ptt' in o) setIndicator('ptt', o.ptt, 'Transmitter keyed (PTT on)', 'Transmitter off');
  if ('rx' in o) setIndicator('rx', o.rx, 'Receiving signal', 'Receiver quiet');
  if ('silence' in o) $('silence').checked = o.silence;
  if ('greeting' in o) $('greeting').checked = o.greeting;
  if ('connected' in o) {
    const list = $('connected');
    list.replaceChildren(...o.connected.map((c) => { const li = document.createElement('li'); li.textContent = c; return li; }));
    if (!o.connected.length) { const li = document.createElement('li'); li.textContent = 'None'; list.append(li); }
  }
  if ('stations' in o) drawStations(o.stations);
  if ('groups' in o) drawGroups(o.groups);
  if ('countdowns' in o) {
    const dl = $('countdowns');
    if (dl.children.length !== o.countdowns.length * 2) {
      dl.replaceChildren();
      for (const c of o.countdowns) {
        const dt = document.createElement('dt'); dt.textContent = c.label;
        const dd = document.createElement('dd'); dd.id = 'cd-' + c.id;
        dl.append(dt, dd);
      }
    }
    for (const c of o.countdowns) $('cd-' + c.id).textContent = c.value;
  }
  if ('history' in o) fillLog('history', o.history, true);
  if ('chat' in o) fillLog('chat', o.chat, true);
  if ('onair' in o) fillLog('onair', o.onair, true);
}

async function send(request) {
  if (!csrf) { say('Not connected to the station yet.'); return; }
  try {
    const r = await fetch('/api/action', {
      method: 'POST', credentials: 'same-origin',
      headers: { 'Content-Type': 'application/json', 'X-CSRF-Token': csrf },
      body: JSON.stringify(request),
    });
    if (r.status === 401) { location.href = '/login'; return; }
    const answer = await r.json().catch(() => ({}));
    say(r.ok ? 'Done.' : (answer.error || 'Refused.'));
  } catch (e) {
    say('The station cannot be reached.');
  }
}

function connect() {
  socket = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/ws');
  let greeted = false;
  socket.onmessage = (event) => {
    const o = JSON.parse(event.data);
    if (o.type === 'state') {
      greeted = true;
      csrf = o.csrf;
      $('logout-csrf').value = csrf;
      $('link').textContent = 'Live';
      draw(o);
    } else if (o.type === 'update') {
      draw(o);
    } else if (o.type === 'lines') {
      fillLog(o.log, o.lines, o.reset);
    } else if (o.type === 'announce') {
      announce(o.text);
    } else if (o.type === 'settings' && window.settingsChanged) {
      window.settingsChanged(o.window);
    }
  };
  socket.onclose = async () => {
    $('link').textContent = 'Connection lost; trying again…';
    if (!greeted) {
      const r = await fetch('/api/state', { credentials: 'same-origin' }).catch(() => null);
      if (r && r.status === 401) { location.href = '/login'; return; }
    }
    setTimeout(connect, 2000);
  };
}

document.addEventListener('DOMContentLoaded', () => {
  document.querySelectorAll('button[data-action]').forEach((b) => {
    b.addEventListener('click', (event) => {
      event.preventDefault();
      const action = b.dataset.action;
      if (action === 'speak' || action === 'speakNoPtt') {
        const text = $('speak-text').value.trim();
        if (!text) { say('Type a text to speak first.'); $('speak-text').focus(); return; }
        send({ action, text });
      } else {
        send({ action });
      }
    });
  });
  $('silence').addEventListener('change', (e) => send({ action: 'silence', on: e.target.checked }));
  $('greeting').addEventListener('change', (e) => send({ action: 'greeting', on: e.target.checked }));
  $('chat-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const text = $('chat-text').value.trim();
    if (!text) { say('Type a chat text first.'); return; }
    send({ action: 'chat', text });
    $('chat-text').value = '';
  });
  connect();
});
