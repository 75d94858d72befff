#!/usr/bin/env node
// Talks to a running gamesim (started with scenario.txt beside this file) with
// the npm package "rcon", an independent GoldSrc remote-console client, and
// checks what it reads back: the engine's status, the status add-on's answer
// and the empty answer of an unknown command. It also reports, without judging
// it, what that client makes of an answer sent as split packets.
//
//   node check.js <port> [password]
//
// Exit code 0 when every check passed, 1 otherwise.
'use strict';

const Rcon = require('rcon');

const port = Number(process.argv[2]);
const password = process.argv[3] || 'secret';
const FIRST_ANSWER_MS = 3000; // the first datagram of an answer
const QUIET_MS = 400;         // no more datagrams of the same answer after this

// What scenario.txt sets up.
const hostname = 'npm check';
const addonAnswer = '\\npm check\\\\de_dust2\\' + '\\Nitro\\\\176.32.12.6:27005\\' + '\\Bot1\\\\\\' +
  '\\TV\\\\10.0.0.7:27020\\' + '\\Slow\\\\\\';

let failures = 0;
function check(ok, what, detail) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what + (ok || detail === undefined ? '' : ': ' + detail));
  if (!ok) failures++;
}

function connect() {
  return new Promise((resolve, reject) => {
    const conn = new Rcon('127.0.0.1', port, password, { tcp: false, challenge: true });
    const timer = setTimeout(() => reject(new Error('no challenge answer')), FIRST_ANSWER_MS);
    conn.once('auth', () => { clearTimeout(timer); resolve(conn); });
    conn.connect();
  });
}

// Sends one command; gathers every 'response' and 'error' event until the
// answer has been quiet for QUIET_MS (a GoldSrc answer has no end marker).
function exchange(conn, command) {
  return new Promise((resolve) => {
    const responses = [];
    const errors = [];
    let timer;
    const finish = () => {
      conn.removeListener('response', onResponse);
      conn.removeListener('error', onError);
      resolve({ responses, errors });
    };
    const rearm = (ms) => { clearTimeout(timer); timer = setTimeout(finish, ms); };
    const onResponse = (text) => { responses.push(text); rearm(QUIET_MS); };
    const onError = (error) => { errors.push(error.message); rearm(QUIET_MS); };
    conn.on('response', onResponse);
    conn.on('error', onError);
    conn.send(command);
    rearm(FIRST_ANSWER_MS);
  });
}

// The client drops the 'l' and the last two bytes of each datagram; of an
// answer's two NULs one stays at the end of every response.
function answerText(responses) {
  return responses.map((r) => (r.endsWith('\0') ? r.slice(0, -1) : r)).join('');
}

function show(command, result) {
  console.log('--- ' + JSON.stringify(command) + ': ' + result.responses.length + ' response(s), ' +
    result.errors.length + ' error(s)');
  result.responses.forEach((r, i) => console.log('  response ' + i + ': ' + JSON.stringify(r)));
  result.errors.forEach((e, i) => console.log('  error ' + i + ': ' + e));
}

async function main() {
  const conn = await connect();
  console.log('challenge ' + conn._challengeToken + ' from 127.0.0.1:' + port);

  const status = await exchange(conn, 'status');
  show('status', status);
  const statusText = answerText(status.responses);
  check(status.errors.length === 0, 'status: no errors', status.errors.join('; '));
  check(status.responses.every((r) => r.endsWith('\0')), 'status: each response ends in the second NUL');
  check(statusText.startsWith('hostname:  ' + hostname + '\n'), 'status: hostname line first');
  check(statusText.includes('\n#      name userid uniqueid frag time ping loss adr\n'), 'status: column header');
  check(/\n# 1  "Nitro" \d+ STEAM_0:0:\d+   0 00:00    0    0 176\.32\.12\.6:27005\n/.test(statusText),
    'status: the player\'s line');
  check(/\n# 2 {3}"Bot1" \d+ BOT   0 00:00    0    0\n/.test(statusText), 'status: the bot\'s line');
  check(/\n# 3 {5}"TV" \d+ HLTV hltv:0\/0 delay:0 00:00    0    0 10\.0\.0\.7:27020\n/.test(statusText),
    'status: the proxy\'s line');
  check(!statusText.includes('"Slow"'), 'status: the connecting player is counted but has no line');
  check(statusText.endsWith('\n4 users\n'), 'status: user count last');

  const addon = await exchange(conn, 'zelk_stat 1');
  show('zelk_stat 1', addon);
  check(addon.errors.length === 0 && answerText(addon.responses) === addonAnswer, 'zelk_stat 1: add-on answer',
    JSON.stringify(answerText(addon.responses)));

  const unknown = await exchange(conn, 'no_such_command');
  show('no_such_command', unknown);
  check(unknown.errors.length === 0 && unknown.responses.length === 1 && unknown.responses[0] === '\0',
    'unknown command: one empty answer (read as a lone NUL)', JSON.stringify(unknown.responses));

  const split = await exchange(conn, 'big');
  show('big (1399 text bytes, two split packets)', split);
  console.log('note: split packets reach this client as ' + split.responses.length + ' response(s) and ' +
    split.errors.length + ' error(s)');

  conn.disconnect();
  console.log(failures === 0 ? 'all checks passed' : failures + ' check(s) failed');
  process.exit(failures === 0 ? 0 : 1);
}

main().catch((error) => {
  console.log('FAIL ' + error.message);
  process.exit(1);
});
