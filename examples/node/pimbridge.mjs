// Run pimbridge from a Node.js host (Node 18 or later, no dependency) and get
// every outcome back as a plain result object; copy this file into your app.
//
// Nothing a failing or misbehaving child does makes these functions throw:
// they throw only on wrong arguments, such as a command word that is not text.

import { spawn } from 'node:child_process';

export const REMINDERS_STATES = Object.freeze([
  'not_determined', 'restricted', 'denied', 'authorized', 'write_only', 'unknown',
]);
export const CONTACTS_STATES = Object.freeze([
  'not_determined', 'restricted', 'denied', 'authorized', 'limited', 'unknown',
]);

/** The most the child may write to standard output before it is stopped. */
export const DEFAULT_MAX_OUTPUT_BYTES = 256 * 1024 * 1024;

// The tool waits up to 60 s for the user's answer to an access prompt, and up
// to 5 s for each reminder list it fetches; the rest is start-up, reading the
// store and writing the answer, for which SLACK_MS leaves ample room.
const SLACK_MS = 30_000;
const ACCESS_WAIT_MS = 60_000;
const LIST_WAIT_MS = 5_000;
// Without list identifiers the tool fetches every list, and the host does not
// know how many there are: the default limit allows this many slow lists.
const ASSUMED_LISTS = 30;
// The most that setTimeout accepts.
const MAX_TIMEOUT_MS = 2 ** 31 - 1;
// The tool writes at most a short line to standard error; keep a little more.
const MAX_STDERR_BYTES = 64 * 1024;
const ENCODING_FAILURE = '{"error":"encoding"}';

const READING = new Set(['reminder-lists', 'reminders', 'contacts']);
const REQUESTS = new Set(['request-reminders', 'request-contacts']);

/**
 * The default time limit for one run, in milliseconds: 30 s, plus 60 s for an
 * access request, plus 5 s per distinct list identifier given to `reminders`
 * (or for 30 lists when none is given, meaning every list).
 */
export function defaultTimeoutMs(command, args = []) {
  if (REQUESTS.has(command)) return SLACK_MS + ACCESS_WAIT_MS;
  if (command === 'reminders') {
    return SLACK_MS + LIST_WAIT_MS * (args.length > 0 ? new Set(args).size : ASSUMED_LISTS);
  }
  return SLACK_MS;
}

// Shape checks: each returns a sentence naming the first fault, or null.
const DUE = /^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z$/;
const text = (v, at) => (typeof v === 'string' ? null : `${at} is not a text`);
const boolean = (v, at) => (typeof v === 'boolean' ? null : `${at} is not a boolean`);
const due = (v, at) =>
  v === null || (typeof v === 'string' && DUE.test(v)) ? null : `${at} is neither a UTC date-time nor null`;
const oneOf = (words) => (v, at) => (words.includes(v) ? null : `${at} is not one of ${words.join(', ')}`);
const arrayOf = (item, max = Infinity) => (v, at) => {
  if (!Array.isArray(v)) return `${at} is not an array`;
  if (v.length > max) return `${at} has ${v.length} elements, more than ${max}`;
  for (let i = 0; i < v.length; i++) {
    const fault = item(v[i], `${at}[${i}]`);
    if (fault) return fault;
  }
  return null;
};
// Keys the client does not know are left in place, so that an answer from a
// newer tool with more keys still reaches the host.
const object = (fields) => (v, at) => {
  if (v === null || typeof v !== 'object' || Array.isArray(v)) return `${at} is not an object`;
  for (const [key, check] of Object.entries(fields)) {
    if (!Object.hasOwn(v, key)) return `${at} has no "${key}"`;
    const fault = check(v[key], `${at}.${key}`);
    if (fault) return fault;
  }
  return null;
};

const ANSWERS = {
  authorization: object({ reminders: oneOf(REMINDERS_STATES), contacts: oneOf(CONTACTS_STATES) }),
  'reminder-lists': object({ lists: arrayOf(object({ id: text, title: text })) }),
  reminders: object({
    reminders: arrayOf(object({ id: text, title: text, list: text, due, completed: boolean })),
  }),
  contacts: object({
    contacts: arrayOf(object({ id: text, name: text, phones: arrayOf(text), emails: arrayOf(text) }), 500),
  }),
  'request-reminders': object({ ok: boolean, authorization: oneOf(REMINDERS_STATES) }),
  'request-contacts': object({ ok: boolean, authorization: oneOf(CONTACTS_STATES) }),
};

function checkOptions(options) {
  if (options === null || typeof options !== 'object') throw new TypeError('options must be an object');
  const { timeoutMs, maxOutputBytes, env, onRun } = options;
  if (timeoutMs !== undefined && !(Number.isFinite(timeoutMs) && timeoutMs > 0 && timeoutMs <= MAX_TIMEOUT_MS)) {
    throw new TypeError(`timeoutMs must be a number of milliseconds from 1 to ${MAX_TIMEOUT_MS}`);
  }
  if (maxOutputBytes !== undefined && !(Number.isSafeInteger(maxOutputBytes) && maxOutputBytes > 0)) {
    throw new TypeError('maxOutputBytes must be a positive whole number');
  }
  if (env !== undefined && (env === null || typeof env !== 'object')) throw new TypeError('env must be an object');
  if (onRun !== undefined && typeof onRun !== 'function') throw new TypeError('onRun must be a function');
}

function checkText(value, what) {
  if (typeof value !== 'string' || value.includes('\0')) {
    throw new TypeError(`${what} must be a text without NUL characters`);
  }
}

function checkBinary(binary) {
  checkText(binary, 'the path of pimbridge');
  if (binary === '') throw new TypeError('the path of pimbridge is empty');
}

/**
 * Run `binary command ...args` once and map its outcome to a result.
 * Any command word may be sent; the answer's shape is checked for the six
 * that the tool knows.
 */
export function runPimbridge(binary, command, args = [], options = {}) {
  checkBinary(binary);
  checkText(command, 'the command word');
  if (!Array.isArray(args)) throw new TypeError('args must be an array of texts');
  args.forEach((arg) => checkText(arg, 'every argument'));
  checkOptions(options);
  const timeoutMs = options.timeoutMs ?? defaultTimeoutMs(command, args);
  const maxOutputBytes = options.maxOutputBytes ?? DEFAULT_MAX_OUTPUT_BYTES;
  const argv = [command, ...args];
  return collect(binary, argv, options.env ?? process.env, timeoutMs, maxOutputBytes).then((run) => {
    if (run.spawnError) {
      return { kind: 'spawn_failed', code: run.spawnError.code ?? null, detail: run.spawnError.message };
    }
    options.onRun?.({
      binary, args: argv, status: run.status, signal: run.signal,
      stdout: run.stdout, stderr: run.stderr, timedOut: run.timedOut,
    });
    return classify(command, run, timeoutMs, maxOutputBytes);
  });
}

// Runs the child to its end and gathers what it wrote. The timer and the
// output cap kill it; either also closes our ends of its pipes, so that a
// descendant still holding them cannot keep the run from ending.
function collect(binary, argv, env, timeoutMs, maxOutputBytes) {
  return new Promise((resolve) => {
    const stdout = [];
    const stderr = [];
    let stdoutBytes = 0;
    let stderrBytes = 0;
    let timedOut = false;
    let overflowed = false;
    let spawnError = null;
    let child;
    try {
      child = spawn(binary, argv, { stdio: ['ignore', 'pipe', 'pipe'], env, windowsHide: true });
    } catch (error) {
      resolve({ spawnError: error });
      return;
    }
    const stop = () => {
      child.kill('SIGKILL');
      child.stdout.destroy();
      child.stderr.destroy();
    };
    const timer = setTimeout(() => {
      timedOut = true;
      stop();
    }, timeoutMs);
    child.stdout.on('data', (chunk) => {
      if (overflowed) return;
      stdoutBytes += chunk.length;
      if (stdoutBytes > maxOutputBytes) {
        overflowed = true;
        stop();
      } else {
        stdout.push(chunk);
      }
    });
    child.stderr.on('data', (chunk) => {
      if (stderrBytes < MAX_STDERR_BYTES) stderr.push(chunk.subarray(0, MAX_STDERR_BYTES - stderrBytes));
      stderrBytes += chunk.length;
    });
    child.on('error', (error) => {
      // A child that could not be started emits this and then 'close'.
      if (child.pid === undefined) spawnError = error;
    });
    child.on('close', (status, signal) => {
      clearTimeout(timer);
      resolve({
        spawnError, status, signal, timedOut, overflowed,
        stdout: Buffer.concat(stdout), stderr: Buffer.concat(stderr),
      });
    });
  });
}

function classify(command, run, timeoutMs, maxOutputBytes) {
  const { status, signal } = run;
  const stderr = run.stderr.toString('utf8');
  const bad = (detail) => ({ kind: 'bad_output', detail, status, stderr });
  if (run.timedOut) return { kind: 'timed_out', timeoutMs };
  if (run.overflowed) return bad(`standard output passed ${maxOutputBytes} bytes`);
  if (signal !== null) return { kind: 'crashed', signal, status: null, stderr };
  if (status === 1) {
    if (run.stdout.length > 0) return bad('exit status 1 with output on standard output');
    if (stderr === ENCODING_FAILURE) return { kind: 'encoding_failure' };
    if (stderr === '') return { kind: 'output_failure' };
    return bad('exit status 1 with unexpected standard error');
  }
  if (status !== 0 && status !== 2) return { kind: 'crashed', signal: null, status, stderr };
  if (run.stdout.length === 0) {
    if (status === 0 && REQUESTS.has(command)) return { kind: 'no_answer' };
    return bad(`nothing on standard output with exit status ${status}`);
  }

  let value;
  try {
    const line = new TextDecoder('utf-8', { fatal: true }).decode(run.stdout);
    if (!line.endsWith('\n')) return bad('standard output does not end in a line feed');
    if (line.indexOf('\n') !== line.length - 1) return bad('standard output holds more than one line');
    value = JSON.parse(line);
  } catch (error) {
    return bad(`standard output is not one line of JSON in UTF-8: ${error.message}`);
  }

  if (status === 2 && value !== null && typeof value === 'object' && typeof value.error === 'string') {
    // unknown_command is taken from any word: an older tool may not know a
    // command this client does.
    if (value.error === 'unknown_command') return { kind: 'unknown_command' };
    if (value.error === 'permission_required' && READING.has(command)) return { kind: 'permission_required' };
    return bad(`the error "${value.error}" does not answer ${command}`);
  }
  const shape = ANSWERS[command];
  if (!shape) return bad(`the unknown word ${JSON.stringify(command)} got an answer with exit status ${status}`);
  const fault = shape(value, 'the answer');
  if (fault) return bad(fault);
  if (REQUESTS.has(command)) {
    if (value.ok !== (status === 0)) return bad(`ok is ${value.ok} with exit status ${status}`);
    return { kind: value.ok ? 'answer' : 'denied', value };
  }
  if (status !== 0) return bad(`an answer to ${command} with exit status ${status}`);
  return { kind: 'answer', value };
}

/**
 * A client bound to one pimbridge binary. `defaults` apply to every call, and
 * a call's own options win over them.
 */
export function createClient(binary, defaults = {}) {
  checkBinary(binary);
  checkOptions(defaults);
  const run = (command, args = [], options = {}) => runPimbridge(binary, command, args, { ...defaults, ...options });
  return {
    run,
    authorization: (options) => run('authorization', [], options),
    reminderLists: (options) => run('reminder-lists', [], options),
    reminders: (listIds = [], options) => {
      if (!Array.isArray(listIds)) throw new TypeError('listIds must be an array of texts');
      return run('reminders', listIds, options);
    },
    contacts: (options) => run('contacts', [], options),
    requestReminders: (options) => run('request-reminders', [], options),
    requestContacts: (options) => run('request-contacts', [], options),
  };
}
