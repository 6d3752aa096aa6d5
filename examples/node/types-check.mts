// Compiled, never run, by `tsc -p examples/node`: uses the client as a host
// would, so that a declaration that drifts from the answers fails to compile.
import {
  createClient, runPimbridge,
  type ContactsState, type PimbridgeResult, type Reminder, type RemindersState,
} from './pimbridge.mjs';

// Each store's words, exactly: a word missing from or added to a union fails here.
const remindersWords: Record<RemindersState, true> = {
  not_determined: true, restricted: true, denied: true, authorized: true, write_only: true, unknown: true,
};
const contactsWords: Record<ContactsState, true> = {
  not_determined: true, restricted: true, denied: true, authorized: true, limited: true, unknown: true,
};
// @ts-expect-error limited is a contacts word only
const notForReminders: RemindersState = 'limited';
// @ts-expect-error write_only is a reminders word only
const notForContacts: ContactsState = 'write_only';

const client = createClient('/Applications/Host.app/Contents/MacOS/pimbridge', { maxOutputBytes: 64 << 20 });

export async function dueDates(): Promise<Date[]> {
  const result = await client.reminders(['list-home'], { timeoutMs: 20_000 });
  // @ts-expect-error value exists only once kind is narrowed to answer
  result.value;
  if (result.kind !== 'answer') return [];
  const first: Reminder | undefined = result.value.reminders[0];
  // @ts-expect-error due may be null
  const text: string = first?.due;
  return result.value.reminders.flatMap((r) => (r.due === null ? [] : [new Date(r.due)]));
}

export async function askForContacts(): Promise<string> {
  const result = await client.requestContacts();
  switch (result.kind) {
    case 'answer': {
      const ok: true = result.value.ok;
      const state: ContactsState = result.value.authorization;
      return `${ok} ${state}`;
    }
    case 'denied': {
      const ok: false = result.value.ok;
      // @ts-expect-error the contacts request never reports a reminders word
      const state: 'write_only' = result.value.authorization;
      return `${ok} ${state}`;
    }
    case 'no_answer':
      return 'ask again later';
    case 'crashed':
      return result.signal ?? `status ${result.status}`;
    case 'bad_output':
      return result.detail;
    case 'timed_out':
      return `after ${result.timeoutMs} ms`;
    case 'spawn_failed':
      return result.detail;
    case 'unknown_command':
    case 'encoding_failure':
    case 'output_failure':
      return result.kind;
    default: {
      const unhandled: never = result;
      return unhandled;
    }
  }
}

export async function other(): Promise<void> {
  const lists = await runPimbridge('pimbridge', 'reminder-lists');
  if (lists.kind === 'permission_required') await client.requestReminders();
  const anything: PimbridgeResult = await client.run('nonsense');
  // @ts-expect-error the access request has no permission_required result
  if ((await client.requestReminders()).kind === 'permission_required') return;
  // @ts-expect-error list identifiers are texts
  await client.reminders([1]);
  void anything, remindersWords, contactsWords, notForReminders, notForContacts;
}
