// Types of pimbridge.mjs (TypeScript pairs an .mjs file with its .d.mts): the
// tool's answers and the results a host gets back.

/** The Reminders store's state; `write_only` exists only for reminders. */
export type RemindersState =
  | 'not_determined' | 'restricted' | 'denied' | 'authorized' | 'write_only' | 'unknown';
/** The Contacts store's state; `limited` exists only for contacts. */
export type ContactsState =
  | 'not_determined' | 'restricted' | 'denied' | 'authorized' | 'limited' | 'unknown';

export type Command =
  | 'authorization' | 'reminder-lists' | 'reminders' | 'contacts' | 'request-reminders' | 'request-contacts';

export interface AuthorizationAnswer {
  reminders: RemindersState;
  contacts: ContactsState;
}

export interface ReminderList {
  /** What `reminders(listIds)` takes. */
  id: string;
  title: string;
}
export interface ReminderListsAnswer {
  lists: ReminderList[];
}

export interface Reminder {
  id: string;
  title: string;
  /** The title of the list the reminder was fetched through. */
  list: string;
  /** `YYYY-MM-DDTHH:MM:SSZ` in UTC, or null when the reminder has no due date. */
  due: string | null;
  completed: boolean;
}
export interface RemindersAnswer {
  reminders: Reminder[];
}

export interface Contact {
  id: string;
  name: string;
  phones: string[];
  emails: string[];
}
export interface ContactsAnswer {
  /** At most 500. */
  contacts: Contact[];
}

/** The answer to an access request: whether access was granted, and the store's state right after. */
export interface AccessAnswer<State extends RemindersState | ContactsState, Ok extends boolean = boolean> {
  ok: Ok;
  authorization: State;
}

export interface Answer<Value> {
  kind: 'answer';
  value: Value;
}
/** The user did not grant access (exit status 2, `ok` false). */
export interface Denied<Value> {
  kind: 'denied';
  value: Value;
}
/** The store is not exactly `authorized`; ask with an access request first. */
export interface PermissionRequired {
  kind: 'permission_required';
}
/** The tool does not know the command word (an older tool may not know a newer command). */
export interface UnknownCommand {
  kind: 'unknown_command';
}
/** Nobody answered the access prompt within 60 s; read `authorization()` when the state matters. */
export interface NoAnswer {
  kind: 'no_answer';
}
/** The answer held text that is not valid UTF-8, so the tool printed none. */
export interface EncodingFailure {
  kind: 'encoding_failure';
}
/** The tool could not write its answer to standard output. */
export interface OutputFailure {
  kind: 'output_failure';
}
/** The run passed its time limit and was killed. */
export interface TimedOut {
  kind: 'timed_out';
  timeoutMs: number;
}
/** The run ended by a signal, or with an exit status the tool never uses. */
export type Crashed =
  | { kind: 'crashed'; signal: string; status: null; stderr: string }
  | { kind: 'crashed'; signal: null; status: number; stderr: string };
/** The output broke the tool's rules: not one line of JSON, the wrong shape, too large. */
export interface BadOutput {
  kind: 'bad_output';
  detail: string;
  status: number | null;
  stderr: string;
}
/** The binary could not be started (missing, not executable). */
export interface SpawnFailed {
  kind: 'spawn_failed';
  code: string | null;
  detail: string;
}

/** What can go wrong with any command. */
export type Failure =
  | UnknownCommand | EncodingFailure | OutputFailure | TimedOut | Crashed | BadOutput | SpawnFailed;

export type AuthorizationResult = Answer<AuthorizationAnswer> | Failure;
export type ReadResult<Value> = Answer<Value> | PermissionRequired | Failure;
export type AccessResult<State extends RemindersState | ContactsState> =
  | Answer<AccessAnswer<State, true>>
  | Denied<AccessAnswer<State, false>>
  | NoAnswer
  | Failure;
/** The result of any command word, known or not. */
export type PimbridgeResult =
  | AuthorizationResult
  | ReadResult<ReminderListsAnswer | RemindersAnswer | ContactsAnswer>
  | AccessResult<RemindersState>
  | AccessResult<ContactsState>;

/** One finished run as the child left it, before it is mapped to a result. */
export interface Run {
  binary: string;
  args: string[];
  status: number | null;
  signal: string | null;
  stdout: Uint8Array;
  stderr: Uint8Array;
  timedOut: boolean;
}

export interface RunOptions {
  /** Kill the run after this many milliseconds; defaults per command, see defaultTimeoutMs. */
  timeoutMs?: number;
  /** Kill the run once standard output passes this many bytes; default 256 MiB. */
  maxOutputBytes?: number;
  /** The child's environment; default: this process's. */
  env?: Record<string, string | undefined>;
  /** Called with every run that started, e.g. to log it; an exception from it rejects the call. */
  onRun?: (run: Run) => void;
}

export const REMINDERS_STATES: readonly RemindersState[];
export const CONTACTS_STATES: readonly ContactsState[];
export const DEFAULT_MAX_OUTPUT_BYTES: number;

/** 30 s; 90 s for an access request; for `reminders`, 30 s plus 5 s per distinct list id (or for 30 lists when none is given). */
export function defaultTimeoutMs(command: string, args?: readonly string[]): number;

export function runPimbridge(
  binary: string, command: 'authorization', args?: readonly string[], options?: RunOptions): Promise<AuthorizationResult>;
export function runPimbridge(
  binary: string, command: 'reminder-lists', args?: readonly string[], options?: RunOptions,
): Promise<ReadResult<ReminderListsAnswer>>;
export function runPimbridge(
  binary: string, command: 'reminders', args?: readonly string[], options?: RunOptions): Promise<ReadResult<RemindersAnswer>>;
export function runPimbridge(
  binary: string, command: 'contacts', args?: readonly string[], options?: RunOptions): Promise<ReadResult<ContactsAnswer>>;
export function runPimbridge(
  binary: string, command: 'request-reminders', args?: readonly string[], options?: RunOptions,
): Promise<AccessResult<RemindersState>>;
export function runPimbridge(
  binary: string, command: 'request-contacts', args?: readonly string[], options?: RunOptions,
): Promise<AccessResult<ContactsState>>;
export function runPimbridge(
  binary: string, command: string, args?: readonly string[], options?: RunOptions): Promise<PimbridgeResult>;

export interface PimbridgeClient {
  run: {
    (command: 'authorization', args?: readonly string[], options?: RunOptions): Promise<AuthorizationResult>;
    (command: 'reminder-lists', args?: readonly string[], options?: RunOptions): Promise<ReadResult<ReminderListsAnswer>>;
    (command: 'reminders', args?: readonly string[], options?: RunOptions): Promise<ReadResult<RemindersAnswer>>;
    (command: 'contacts', args?: readonly string[], options?: RunOptions): Promise<ReadResult<ContactsAnswer>>;
    (command: 'request-reminders', args?: readonly string[], options?: RunOptions): Promise<AccessResult<RemindersState>>;
    (command: 'request-contacts', args?: readonly string[], options?: RunOptions): Promise<AccessResult<ContactsState>>;
    (command: string, args?: readonly string[], options?: RunOptions): Promise<PimbridgeResult>;
  };
  authorization(options?: RunOptions): Promise<AuthorizationResult>;
  reminderLists(options?: RunOptions): Promise<ReadResult<ReminderListsAnswer>>;
  /** Every list's reminders, or only those of the lists named. */
  reminders(listIds?: readonly string[], options?: RunOptions): Promise<ReadResult<RemindersAnswer>>;
  contacts(options?: RunOptions): Promise<ReadResult<ContactsAnswer>>;
  requestReminders(options?: RunOptions): Promise<AccessResult<RemindersState>>;
  requestContacts(options?: RunOptions): Promise<AccessResult<ContactsState>>;
}

/** A client bound to one binary; `defaults` apply to every call, a call's own options win. */
export function createClient(binary: string, defaults?: RunOptions): PimbridgeClient;
