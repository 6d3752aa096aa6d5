// Runs the client against the real pimbridge on small simulated worlds, and
// against tiny fake executables for what the real tool cannot be made to do.
//
// PIMBRIDGE_BINARY names the tool (default: build/default/src/pimbridge of this
// repository). With PIMBRIDGE_ANSWER_LOG set, every run of the real tool is
// appended there as a record that schema/validate.py checks.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { accessSync, appendFileSync, chmodSync, constants, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import {
  CONTACTS_STATES, REMINDERS_STATES, createClient, defaultTimeoutMs, runPimbridge,
} from '../pimbridge.mjs';

const repo = fileURLToPath(new URL('../../../', import.meta.url));
const binary = process.env.PIMBRIDGE_BINARY ?? path.join(repo, 'build/default/src/pimbridge');
const answerLog = process.env.PIMBRIDGE_ANSWER_LOG;
let folder;
let files = 0;

before(() => {
  try {
    accessSync(binary, constants.X_OK);
  } catch {
    assert.fail(`no executable pimbridge at ${binary}: build it, or set PIMBRIDGE_BINARY`);
  }
  folder = mkdtempSync(path.join(tmpdir(), 'pimbridge-node-'));
});
after(() => rmSync(folder, { recursive: true, force: true }));

function write(name, content, mode = 0o644) {
  const file = path.join(folder, `${++files}-${name}`);
  writeFileSync(file, content);
  chmodSync(file, mode);
  return file;
}

// A client of the real tool on a world; its runs go to the answer log.
function real(world, name) {
  const env = world ? { PIMBRIDGE_WORLD: write('world.json', JSON.stringify(world)) } : {};
  const onRun = answerLog && ((run) => {
    if (run.status === null) return; // killed by the client: not an answer of the tool
    const record = { test: name, args: run.args, status: run.status, out: Buffer.from(run.stdout).toString('utf8') };
    appendFileSync(answerLog, JSON.stringify(record) + '\n');
  });
  return createClient(binary, { env, onRun });
}

// A client of a shell script standing in for the tool.
const fake = (script) => createClient(write('fake.sh', `#!/bin/sh\n${script}\n`, 0o755), {
  env: { PATH: process.env.PATH },
});

const STATES = { reminders: { status: 2 }, contacts: { status: 4 } };
const READABLE = {
  reminders: {
    status: 3,
    lists: [
      {
        id: 'A/1', title: 'Home', reminders: [
          { id: 'r1', title: 'Milk', due: { year: 2024, month: 3, day: 5, hour: 16, minute: 30, utc_offset_minutes: 120 } },
          { id: 'r2', title: 'Café', completed: true },
        ],
      },
      { id: 'B', title: 'Work', reminders: [{ id: 'r3', title: 'Report', due: { year: 2024, month: 2, day: 30 } }] },
    ],
  },
  contacts: {
    status: 3,
    contacts: [
      { id: 'c1', given: 'Ada', family: 'Lovelace', phones: ['+44 1', '+44 1'], emails: ['ada@example.org'] },
      { id: 'c2', family: 'Núñez' },
    ],
  },
};
const REFUSING = {
  reminders: { status: 4, request: { granted: false, status_after: 2 } },
  contacts: { status: 0, request: { granted: true, status_after: 4 } },
};
const UNENCODABLE = { reminders: { status: 3, lists: [{ id: 'A', title: { hex: 'ff' } }] } };
const R1 = { id: 'r1', title: 'Milk', list: 'Home', due: '2024-03-05T14:30:00Z', completed: false };
const R2 = { id: 'r2', title: 'Café', list: 'Home', due: null, completed: true };
const R3 = { id: 'r3', title: 'Report', list: 'Work', due: null, completed: false };

describe('the real tool', () => {
  // [what it shows, world, call, expected result]
  const cases = [
    ['each store reports its own state word', STATES, (c) => c.authorization(),
      { kind: 'answer', value: { reminders: 'denied', contacts: 'limited' } }],
    ['lists come with the identifiers reminders takes', READABLE, (c) => c.reminderLists(),
      { kind: 'answer', value: { lists: [{ id: 'A/1', title: 'Home' }, { id: 'B', title: 'Work' }] } }],
    ['every list\'s reminders, due as UTC or null', READABLE, (c) => c.reminders(),
      { kind: 'answer', value: { reminders: [R1, R2, R3] } }],
    ['only the lists named', READABLE, (c) => c.reminders(['B', 'missing']),
      { kind: 'answer', value: { reminders: [R3] } }],
    ['contacts as stored, duplicates kept', READABLE, (c) => c.contacts(), {
      kind: 'answer', value: {
        contacts: [
          { id: 'c1', name: 'Ada Lovelace', phones: ['+44 1', '+44 1'], emails: ['ada@example.org'] },
          { id: 'c2', name: 'Núñez', phones: [], emails: [] },
        ],
      },
    }],
    ['write_only is not enough to read lists', REFUSING, (c) => c.reminderLists(), { kind: 'permission_required' }],
    ['write_only is not enough to read reminders', REFUSING, (c) => c.reminders(['A']), { kind: 'permission_required' }],
    ['contacts need access', REFUSING, (c) => c.contacts(), { kind: 'permission_required' }],
    ['a refused request', REFUSING, (c) => c.requestReminders(),
      { kind: 'denied', value: { ok: false, authorization: 'denied' } }],
    ['a granted request that leaves contacts limited', REFUSING, (c) => c.requestContacts(),
      { kind: 'answer', value: { ok: true, authorization: 'limited' } }],
    ['an unknown word', null, (c) => c.run('Reminders'), { kind: 'unknown_command' }],
    ['the empty word', null, (c) => c.run(''), { kind: 'unknown_command' }],
    ['text that is not UTF-8', UNENCODABLE, (c) => c.reminderLists(), { kind: 'encoding_failure' }],
  ];
  for (const [name, world, call, expected] of cases) {
    test(name, async () => assert.deepEqual(await call(real(world, name)), expected));
  }

  test('a broken world stops the simulated platform, which the host sees as a crash', async () => {
    const result = await real({ bogus: 1 }, 'broken world').authorization();
    assert.equal(result.kind, 'crashed');
    assert.equal(result.status, 3);
    assert.equal(result.signal, null);
    assert.match(result.stderr, /^simulated platform: /);
  });

  test('an answer of many megabytes arrives whole', async () => {
    const world = { reminders: { status: 3, lists: [{ id: 'big', title: 'Big', generate: 200_000 }] } };
    let bytes = 0;
    const result = await real(world, 'huge answer').reminders([], { onRun: (run) => { bytes = run.stdout.length; } });
    assert.equal(result.kind, 'answer');
    assert.equal(result.value.reminders.length, 200_000);
    assert.deepEqual(result.value.reminders.at(-1),
      { id: 'big-200000', title: 'Reminder 200000', list: 'Big', due: null, completed: false });
    assert.ok(bytes > 10_000_000, `only ${bytes} bytes`);
  });

  test('output past the cap stops the run', async () => {
    const world = { reminders: { status: 3, lists: [{ id: 'big', title: 'Big', generate: 200_000 }] } };
    const result = await real(world, 'capped').reminders([], { maxOutputBytes: 1 << 20 });
    assert.equal(result.kind, 'bad_output');
    assert.equal(result.detail, 'standard output passed 1048576 bytes');
  });

  test('a prompt nobody answers is killed at the time limit', async () => {
    const started = Date.now();
    const result = await real({ reminders: { status: 0 } }, 'unanswered').requestReminders({ timeoutMs: 300 });
    assert.deepEqual(result, { kind: 'timed_out', timeoutMs: 300 });
    assert.ok(Date.now() - started < 5_000, `took ${Date.now() - started} ms`);
  });
});

describe('a misbehaving child', () => {
  const bad = (detail) => ({ kind: 'bad_output', detail, status: 0, stderr: '' });
  const contacts501 = JSON.stringify({
    contacts: Array.from({ length: 501 }, (_, k) => ({ id: `c${k}`, name: '', phones: [], emails: [] })),
  });
  // [what it shows, script, command, expected result]
  const cases = [
    ['no output from a reading command', 'exit 0', 'reminders',
      bad('nothing on standard output with exit status 0')],
    ['no output from an access request: no decision yet', 'exit 0', 'request-reminders', { kind: 'no_answer' }],
    ['two lines', `printf '{"contacts":[]}\\n{"contacts":[]}\\n'`, 'contacts',
      bad('standard output holds more than one line')],
    ['no final line feed', `printf '{"contacts":[]}'`, 'contacts', bad('standard output does not end in a line feed')],
    ['a due that is no UTC date-time', `echo '{"reminders":[{"id":"r","title":"t","list":"l","due":"2024-03-05T14:30:00+01:00","completed":false}]}'`,
      'reminders', bad('the answer.reminders[0].due is neither a UTC date-time nor null')],
    ['a number for completed', `echo '{"reminders":[{"id":"r","title":"t","list":"l","due":null,"completed":0}]}'`,
      'reminders', bad('the answer.reminders[0].completed is not a boolean')],
    ['a contacts word for reminders', `echo '{"reminders":"limited","contacts":"limited"}'`, 'authorization',
      bad(`the answer.reminders is not one of ${REMINDERS_STATES.join(', ')}`)],
    ['a number as a phone', `echo '{"contacts":[{"id":"c","name":"","phones":[1],"emails":[]}]}'`, 'contacts',
      bad('the answer.contacts[0].phones[0] is not a text')],
    ['501 contacts', `cat '${'CONTACTS501'}'`, 'contacts', bad('the answer.contacts has 501 elements, more than 500')],
    ['another command\'s answer', `echo '{"lists":[]}'`, 'reminders', bad('the answer has no "reminders"')],
    ['a top-level array', `echo '[]'`, 'reminders', bad('the answer is not an object')],
    ['ok true with status 2', `echo '{"ok":true,"authorization":"authorized"}'; exit 2`, 'request-contacts',
      { kind: 'bad_output', detail: 'ok is true with exit status 2', status: 2, stderr: '' }],
    ['an answer with status 2', `echo '{"contacts":[]}'; exit 2`, 'contacts',
      { kind: 'bad_output', detail: 'an answer to contacts with exit status 2', status: 2, stderr: '' }],
    ['permission_required from authorization', `echo '{"error":"permission_required"}'; exit 2`, 'authorization',
      { kind: 'bad_output', detail: 'the error "permission_required" does not answer authorization', status: 2, stderr: '' }],
    ['unknown_command from an older tool', `echo '{"error":"unknown_command"}'; exit 2`, 'contacts',
      { kind: 'unknown_command' }],
    ['an answer with status 1', `echo '{"contacts":[]}'; exit 1`, 'contacts',
      { kind: 'bad_output', detail: 'exit status 1 with output on standard output', status: 1, stderr: '' }],
    ['status 1 and nothing else: standard output failed', 'exit 1', 'contacts', { kind: 'output_failure' }],
    ['the encoding failure is exactly 20 bytes', `echo '{"error":"encoding"}' >&2; exit 1`, 'contacts',
      { kind: 'bad_output', detail: 'exit status 1 with unexpected standard error', status: 1, stderr: '{"error":"encoding"}\n' }],
    ['a status the tool never ends with', 'echo oops >&2; exit 7', 'contacts',
      { kind: 'crashed', signal: null, status: 7, stderr: 'oops\n' }],
    ['a whole answer, then a signal', `echo '{"contacts":[]}'; kill -KILL $$`, 'contacts',
      { kind: 'crashed', signal: 'SIGKILL', status: null, stderr: '' }],
  ];
  for (const [name, script, command, expected] of cases) {
    test(name, async () => {
      const body = script.replace('CONTACTS501', () => write('contacts.json', contacts501 + '\n'));
      assert.deepEqual(await fake(body).run(command), expected);
    });
  }

  // The parser's own message differs between Node versions; only its prefix is ours.
  for (const [name, script] of [
    ['invalid JSON', `echo '{"contacts":[}'`],
    ['non-UTF-8 output', `printf '{"contacts":[{"id":"\\377","name":"","phones":[],"emails":[]}]}\\n'`],
  ]) {
    test(name, async () => {
      const result = await fake(script).contacts();
      assert.equal(result.kind, 'bad_output');
      assert.match(result.detail, /^standard output is not one line of JSON in UTF-8: ./);
    });
  }

  test('a descendant holding standard output open cannot hold up the host', async () => {
    const pidFile = path.join(folder, 'descendant.pid');
    const client = fake(`echo '{"contacts":[]}'; sleep 30 & echo $! > '${pidFile}'`);
    try {
      const started = Date.now();
      assert.deepEqual(await client.contacts({ timeoutMs: 500 }), { kind: 'timed_out', timeoutMs: 500 });
      assert.ok(Date.now() - started < 5_000, `took ${Date.now() - started} ms`);
    } finally {
      process.kill(Number(readFileSync(pidFile, 'utf8')), 'SIGKILL');
    }
  });

  test('a binary that cannot be started', async () => {
    const result = await createClient(path.join(folder, 'missing')).authorization();
    assert.deepEqual(result, { kind: 'spawn_failed', code: 'ENOENT', detail: `spawn ${path.join(folder, 'missing')} ENOENT` });
  });
});

describe('the client itself', () => {
  test('wrong arguments throw at once', () => {
    const client = createClient(binary);
    const calls = [
      () => createClient(''),
      () => createClient(binary, { timeoutMs: 1000, maxOutputBytes: 1.5 }),
      () => runPimbridge(binary, undefined),
      () => runPimbridge(binary, 'reminders', ['a\0b']),
      () => runPimbridge(binary, 'reminders', 'A'),
      () => client.reminders('A'),
      () => client.authorization({ timeoutMs: 0 }),
      () => client.authorization({ timeoutMs: Infinity }),
      () => client.authorization({ timeoutMs: 2 ** 31 }),
      () => client.authorization({ onRun: 'log' }),
    ];
    for (const call of calls) assert.throws(call, TypeError, String(call));
  });

  test('default time limits outlast the tool\'s own waits', () => {
    // [command, args, the longest the tool itself may wait]
    const bounds = [
      ['authorization', [], 0],
      ['request-reminders', [], 60_000],
      ['request-contacts', [], 60_000],
      ['reminders', ['a', 'b', 'c'], 15_000],
      ['reminders', [], 25 * 5_000],
    ];
    for (const [command, args, wait] of bounds) {
      assert.ok(defaultTimeoutMs(command, args) >= wait + 10_000, `${command} ${args}`);
    }
  });

  test('the state words are the schemas\'', () => {
    const schema = JSON.parse(readFileSync(path.join(repo, 'schema/authorization.schema.json'), 'utf8'));
    assert.deepEqual(REMINDERS_STATES, schema.$defs['reminders-state'].enum);
    assert.deepEqual(CONTACTS_STATES, schema.$defs['contacts-state'].enum);
  });
});
