/* The floor that `pimbridge reminders` and `pimbridge contacts` are measured
 * against on EDS: a minimal reader that makes the same library calls as the
 * tool's EDS backend, in the same order, on the same data, and prints a
 * comparable JSON line.
 *
 *   pimbridge_eds_bare_reader reminders|contacts
 *
 * reminders: the state read (the session bus; a Ping of the source registry
 * and NameHasOwner of the calendar factory, side by side, and
 * ListActivatableNames when the factory is not running), the source
 * registry, its enabled task lists, then one list after another: connect
 * (not waiting for the backend to be online), every VTODO as components, the
 * zones that the DUEs name (one after another, in name order), the
 * conversion, and the client let go. It stops after the list that brings the
 * row count to 1,000, as the tool does.
 *
 * contacts: the state read for the address book factory, the registry, the
 * default address book, connect, the UIDs of every contact, then the cards
 * for the first 500 UIDs, fifty asked for at once and the next fifty when
 * all of them are in.
 *
 * Everything runs in one thread, in the default main context, with the
 * asynchronous calls the tool makes; the process ends with _exit once the
 * line is written, as the tool's does.
 *
 * Left out on purpose, because they are the tool's own cost and that cost is
 * what the comparison measures: JSON escaping (the benchmark's data holds
 * nothing that needs it, and the benchmark checks that both lines parse to
 * the same answer), the checks of dates and times against their bounds, the
 * deadlines and cancellables around every call, the tool's own GLib thread
 * and the waits of its main thread, the building of an answer in memory
 * before it is written, the check that the built-in address book exists
 * before the default one is asked for, and the second reading of each DUE
 * (the tool reads it once to find the zones and again to convert it; this
 * reader keeps it). Any failure ends the run with a message and status 1. */
#define _POSIX_C_SOURCE 200809L

#include <libebook/libebook.h>
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define REGISTRY_BUS_NAME "org.gnome.evolution.dataserver.Sources5"
#define CALENDAR_FACTORY_BUS_NAME "org.gnome.evolution.dataserver.Calendar8"
#define ADDRESS_BOOK_FACTORY_BUS_NAME "org.gnome.evolution.dataserver.AddressBook10"
#define STATE_CALL_TIMEOUT_MS 1000 /* what the tool gives each call of the state read */
#define NO_CONNECT_WAIT ((guint32)-1)
#define ROW_THRESHOLD 1000
#define CONTACT_CAP 500
#define CARDS_AT_ONCE 50
#define EVERY_CONTACT "(contains \"x-evolution-any-field\" \"\")"

static _Noreturn void fail(const char *what, GError *error) {
  fprintf(stderr, "bare_reader: %s%s%s\n", what, error != NULL ? ": " : "", error != NULL ? error->message : "");
  fflush(stdout);
  _exit(1);
}

static _Noreturn void finish(void) {
  if (fflush(stdout) != 0) _exit(1);
  _exit(0);
}

/* --- the state read */

static struct {
  GDBusConnection *bus;
  const char *factory;
  gboolean registry_answered;
  gboolean factory_there;
  void (*then)(void);
} state;

static void state_settle(void) {
  if (state.registry_answered && state.factory_there) state.then();
}

static void registry_pinged(GObject *source, GAsyncResult *result, gpointer data) {
  (void)data;
  GError *error = NULL;
  GVariant *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply == NULL) fail("the source registry did not answer", error);
  g_variant_unref(reply);
  state.registry_answered = TRUE;
  state_settle();
}

static void factory_activatable(GObject *source, GAsyncResult *result, gpointer data) {
  (void)data;
  GError *error = NULL;
  GVariant *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply == NULL) fail("ListActivatableNames failed", error);
  GVariantIter *names = NULL;
  const gchar *name = NULL;
  g_variant_get(reply, "(as)", &names);
  while (g_variant_iter_next(names, "&s", &name)) {
    if (strcmp(name, state.factory) == 0) state.factory_there = TRUE;
  }
  g_variant_iter_free(names);
  g_variant_unref(reply);
  if (!state.factory_there) fail("the factory is neither running nor startable", NULL);
  state_settle();
}

static void factory_owned(GObject *source, GAsyncResult *result, gpointer data) {
  (void)data;
  GError *error = NULL;
  GVariant *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply == NULL) fail("NameHasOwner failed", error);
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  if (owned) {
    state.factory_there = TRUE;
    state_settle();
    return;
  }
  g_dbus_connection_call(state.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "ListActivatableNames", NULL, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
                         STATE_CALL_TIMEOUT_MS, NULL, factory_activatable, NULL);
}

static void bus_reached(GObject *source, GAsyncResult *result, gpointer data) {
  (void)source;
  (void)data;
  GError *error = NULL;
  state.bus = g_bus_get_finish(result, &error);
  if (state.bus == NULL) fail("no session bus", error);
  g_dbus_connection_call(state.bus, REGISTRY_BUS_NAME, "/", "org.freedesktop.DBus.Peer", "Ping", NULL, NULL,
                         G_DBUS_CALL_FLAGS_NONE, STATE_CALL_TIMEOUT_MS, NULL, registry_pinged, NULL);
  g_dbus_connection_call(state.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", g_variant_new("(s)", state.factory), G_VARIANT_TYPE("(b)"),
                         G_DBUS_CALL_FLAGS_NONE, STATE_CALL_TIMEOUT_MS, NULL, factory_owned, NULL);
}

/* Reads the state of the store that the factory serves, then calls `then`. */
static void read_state(const char *factory, void (*then)(void)) {
  state.factory = factory;
  state.then = then;
  g_bus_get(G_BUS_TYPE_SESSION, NULL, bus_reached, NULL);
}

/* --- the source registry */

static ESourceRegistry *registry;
static void (*after_registry)(void);

static void registry_made(GObject *source, GAsyncResult *result, gpointer data) {
  (void)source;
  (void)data;
  GError *error = NULL;
  registry = e_source_registry_new_finish(result, &error);
  if (registry == NULL) fail("no source registry", error);
  after_registry();
}

static void make_registry(void (*then)(void)) {
  after_registry = then;
  e_source_registry_new(NULL, registry_made, NULL);
}

/* --- reminders */

enum due_form { DUE_NONE, DUE_UTC, DUE_ZONED, DUE_FLOATING, DUE_DATE };

struct due {
  enum due_form form;
  ICalTime *time;
  const gchar *tzid; /* owned by the task's component */
};

static struct {
  GList *lists; /* the enabled task lists, in the registry's order */
  GList *next_list;
  guint rows;
  ECalClient *client;
  GSList *tasks;
  struct due *dues;
  GPtrArray *zone_names; /* distinct, in name order */
  ICalTimezone **zones;  /* owned by the client; null where not found */
  guint next_zone;
} reminders;

static void read_due(ECalComponent *task, struct due *due) {
  due->form = DUE_NONE;
  due->time = NULL;
  due->tzid = NULL;
  ICalComponent *component = e_cal_component_get_icalcomponent(task);
  if (component == NULL) return;
  ICalProperty *property = i_cal_component_get_first_property(component, I_CAL_DUE_PROPERTY);
  if (property == NULL) return;
  ICalTime *time = i_cal_property_get_due(property);
  if (time == NULL || i_cal_time_is_null_time(time)) {
    if (time != NULL) g_object_unref(time);
    g_object_unref(property);
    return;
  }
  due->time = time;
  if (i_cal_time_is_date(time)) {
    due->form = DUE_DATE;
  } else {
    ICalParameter *zone = i_cal_property_get_first_parameter(property, I_CAL_TZID_PARAMETER);
    const gchar *tzid = zone != NULL ? i_cal_parameter_get_tzid(zone) : NULL;
    if (i_cal_time_is_utc(time)) {
      due->form = DUE_UTC;
    } else if (tzid != NULL && *tzid != '\0') {
      due->form = DUE_ZONED;
      due->tzid = tzid;
    } else {
      due->form = DUE_FLOATING;
    }
    if (zone != NULL) g_object_unref(zone);
  }
  g_object_unref(property);
}

static gint by_name(gconstpointer a, gconstpointer b) {
  return strcmp(*(const char *const *)a, *(const char *const *)b);
}

/* The moment the DUE denotes, as ISO text into out[21]; false when none. */
static gboolean due_text(const struct due *due, char *out) {
  time_t moment = 0;
  switch (due->form) {
    case DUE_NONE:
      return FALSE;
    case DUE_UTC:
      moment = i_cal_time_as_timet(due->time);
      break;
    case DUE_ZONED: {
      guint i = 0;
      while (i < reminders.zone_names->len && strcmp(g_ptr_array_index(reminders.zone_names, i), due->tzid) != 0) ++i;
      if (reminders.zones[i] == NULL) return FALSE;
      moment = i_cal_time_as_timet_with_zone(due->time, reminders.zones[i]);
      break;
    }
    case DUE_FLOATING:
    case DUE_DATE: {
      const gboolean date = due->form == DUE_DATE;
      struct tm fields = {0};
      fields.tm_year = i_cal_time_get_year(due->time) - 1900;
      fields.tm_mon = i_cal_time_get_month(due->time) - 1;
      fields.tm_mday = i_cal_time_get_day(due->time);
      fields.tm_hour = date ? 0 : i_cal_time_get_hour(due->time);
      fields.tm_min = date ? 0 : i_cal_time_get_minute(due->time);
      fields.tm_sec = date ? 0 : i_cal_time_get_second(due->time);
      fields.tm_isdst = -1;
      moment = mktime(&fields);
      break;
    }
  }
  struct tm utc;
  if (gmtime_r(&moment, &utc) == NULL) return FALSE;
  return strftime(out, 21, "%Y-%m-%dT%H:%M:%SZ", &utc) == 20;
}

static void print_reminder(ECalComponent *task, const struct due *due, const char *list) {
  const gchar *uid = e_cal_component_get_uid(task);
  gchar *recurrence = e_cal_component_is_instance(task) ? e_cal_component_get_recurid_as_string(task) : NULL;
  ECalComponentText *summary = e_cal_component_get_summary(task);
  const gchar *title = summary != NULL ? e_cal_component_text_get_value(summary) : NULL;
  ICalTime *completed_at = e_cal_component_get_completed(task);
  const gboolean completed = e_cal_component_get_status(task) == I_CAL_STATUS_COMPLETED || completed_at != NULL;
  char due_iso[21];

  printf("%s{\"id\":\"%s%s%s\",\"title\":\"%s\",\"list\":\"%s\",", reminders.rows > 0 ? "," : "",
         uid != NULL ? uid : "", recurrence != NULL ? "#" : "", recurrence != NULL ? recurrence : "",
         title != NULL ? title : "", list);
  if (due_text(due, due_iso)) {
    printf("\"due\":\"%s\",", due_iso);
  } else {
    fputs("\"due\":null,", stdout);
  }
  printf("\"completed\":%s}", completed ? "true" : "false");
  ++reminders.rows;

  if (completed_at != NULL) g_object_unref(completed_at);
  if (summary != NULL) e_cal_component_text_free(summary);
  g_free(recurrence);
}

static void fetch_next_list(void);

static void convert_list(void) {
  const char *list = e_source_get_display_name(E_SOURCE(reminders.next_list->data));
  guint i = 0;
  for (GSList *item = reminders.tasks; item != NULL; item = item->next, ++i) {
    print_reminder(E_CAL_COMPONENT(item->data), &reminders.dues[i], list != NULL ? list : "");
    if (reminders.dues[i].time != NULL) g_object_unref(reminders.dues[i].time);
  }
  g_free(reminders.dues);
  g_free(reminders.zones);
  g_ptr_array_unref(reminders.zone_names);
  e_client_util_free_object_slist(reminders.tasks);
  g_object_unref(reminders.client);
  reminders.next_list = reminders.next_list->next;
  fetch_next_list();
}

static void find_next_zone(void);

static void zone_found(GObject *source, GAsyncResult *result, gpointer data) {
  (void)source;
  (void)data;
  ICalTimezone *zone = NULL;
  GError *error = NULL;
  if (!e_cal_client_get_timezone_finish(reminders.client, result, &zone, &error)) zone = NULL;
  g_clear_error(&error);
  reminders.zones[reminders.next_zone++] = zone;
  find_next_zone();
}

static void find_next_zone(void) {
  if (reminders.next_zone == reminders.zone_names->len) {
    convert_list();
    return;
  }
  e_cal_client_get_timezone(reminders.client, g_ptr_array_index(reminders.zone_names, reminders.next_zone), NULL,
                            zone_found, NULL);
}

static void tasks_read(GObject *source, GAsyncResult *result, gpointer data) {
  (void)source;
  (void)data;
  GError *error = NULL;
  if (!e_cal_client_get_object_list_as_comps_finish(reminders.client, result, &reminders.tasks, &error)) {
    fail("reading a task list", error);
  }
  reminders.dues = g_new(struct due, g_slist_length(reminders.tasks) + 1);
  reminders.zone_names = g_ptr_array_new();
  guint i = 0;
  for (GSList *item = reminders.tasks; item != NULL; item = item->next, ++i) {
    struct due *due = &reminders.dues[i];
    read_due(E_CAL_COMPONENT(item->data), due);
    if (due->form != DUE_ZONED) continue;
    guint known = 0;
    while (known < reminders.zone_names->len && strcmp(g_ptr_array_index(reminders.zone_names, known), due->tzid) != 0)
      ++known;
    if (known == reminders.zone_names->len) g_ptr_array_add(reminders.zone_names, (gpointer)due->tzid);
  }
  g_ptr_array_sort(reminders.zone_names, by_name);
  reminders.zones = g_new0(ICalTimezone *, reminders.zone_names->len + 1);
  reminders.next_zone = 0;
  find_next_zone();
}

static void list_opened(GObject *source, GAsyncResult *result, gpointer data) {
  (void)source;
  (void)data;
  GError *error = NULL;
  EClient *client = e_cal_client_connect_finish(result, &error);
  if (client == NULL) fail("opening a task list", error);
  reminders.client = E_CAL_CLIENT(client);
  e_cal_client_get_object_list_as_comps(reminders.client, "#t", NULL, tasks_read, NULL);
}

static void fetch_next_list(void) {
  if (reminders.next_list == NULL || reminders.rows >= ROW_THRESHOLD) {
    fputs("]}\n", stdout);
    finish();
  }
  e_cal_client_connect(E_SOURCE(reminders.next_list->data), E_CAL_CLIENT_SOURCE_TYPE_TASKS, NO_CONNECT_WAIT, NULL,
                       list_opened, NULL);
}

static void reminders_with_registry(void) {
  reminders.lists = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_TASK_LIST);
  reminders.next_list = reminders.lists;
  fputs("{\"reminders\":[", stdout);
  fetch_next_list();
}

static void reminders_authorized(void) {
  make_registry(reminders_with_registry);
}

/* --- contacts */

static struct {
  EBookClient *client;
  GSList *uids;
  GSList *next_uid;
  guint rows;
  EContact *batch[CARDS_AT_ONCE];
  guint batch_size;
  guint outstanding;
} contacts;

static void ask_next_batch(void);

static void print_values(EContact *card, const char *kind) {
  gboolean first = TRUE;
  putchar('[');
  for (GList *item = e_vcard_get_attributes(E_VCARD(card)); item != NULL; item = item->next) {
    EVCardAttribute *attribute = item->data;
    const gchar *name = e_vcard_attribute_get_name(attribute);
    if (name == NULL || g_ascii_strcasecmp(name, kind) != 0) continue;
    printf("%s\"", first ? "" : ",");
    first = FALSE;
    for (GList *value = e_vcard_attribute_get_values(attribute); value != NULL; value = value->next) {
      printf("%s%s", value != e_vcard_attribute_get_values(attribute) ? ";" : "",
             value->data != NULL ? (const char *)value->data : "");
    }
    putchar('"');
  }
  putchar(']');
}

static void print_contact(EContact *card) {
  const gchar *uid = e_contact_get_const(card, E_CONTACT_UID);
  const gchar *given = e_contact_get_const(card, E_CONTACT_GIVEN_NAME);
  const gchar *family = e_contact_get_const(card, E_CONTACT_FAMILY_NAME);
  const gboolean both = given != NULL && *given != '\0' && family != NULL && *family != '\0';
  printf("%s{\"id\":\"%s\",\"name\":\"%s%s%s\",\"phones\":", contacts.rows > 0 ? "," : "", uid != NULL ? uid : "",
         given != NULL ? given : "", both ? " " : "", family != NULL ? family : "");
  print_values(card, "TEL");
  fputs(",\"emails\":", stdout);
  print_values(card, "EMAIL");
  putchar('}');
  ++contacts.rows;
}

static _Noreturn void end_contacts(void) {
  fputs("]}\n", stdout);
  g_object_unref(contacts.client);
  finish();
}

static void card_read(GObject *source, GAsyncResult *result, gpointer data) {
  (void)source;
  EContact *card = NULL;
  GError *error = NULL;
  if (e_book_client_get_contact_finish(contacts.client, result, &card, &error)) {
    contacts.batch[GPOINTER_TO_UINT(data)] = card;
  } else if (!g_error_matches(error, E_BOOK_CLIENT_ERROR, E_BOOK_CLIENT_ERROR_CONTACT_NOT_FOUND)) {
    fail("reading a card", error);
  }
  g_clear_error(&error);
  if (--contacts.outstanding > 0) return;
  for (guint i = 0; i < contacts.batch_size; ++i) {
    if (contacts.batch[i] == NULL) continue;
    if (contacts.rows < CONTACT_CAP) print_contact(contacts.batch[i]);
    g_object_unref(contacts.batch[i]);
  }
  if (contacts.rows >= CONTACT_CAP || contacts.next_uid == NULL) {
    end_contacts();
  }
  ask_next_batch();
}

static void ask_next_batch(void) {
  contacts.batch_size = 0;
  for (; contacts.next_uid != NULL && contacts.batch_size < CARDS_AT_ONCE;
       contacts.next_uid = contacts.next_uid->next) {
    contacts.batch[contacts.batch_size] = NULL;
    e_book_client_get_contact(contacts.client, contacts.next_uid->data, NULL, card_read,
                              GUINT_TO_POINTER(contacts.batch_size));
    ++contacts.batch_size;
  }
  contacts.outstanding = contacts.batch_size;
}

static void uids_read(GObject *source, GAsyncResult *result, gpointer data) {
  (void)source;
  (void)data;
  GError *error = NULL;
  if (!e_book_client_get_contacts_uids_finish(contacts.client, result, &contacts.uids, &error)) {
    fail("reading the UIDs", error);
  }
  fputs("{\"contacts\":[", stdout);
  contacts.next_uid = contacts.uids;
  if (contacts.next_uid == NULL) end_contacts();
  ask_next_batch();
}

static void book_opened(GObject *source, GAsyncResult *result, gpointer data) {
  (void)source;
  (void)data;
  GError *error = NULL;
  EClient *client = e_book_client_connect_finish(result, &error);
  if (client == NULL) fail("opening the address book", error);
  contacts.client = E_BOOK_CLIENT(client);
  e_book_client_get_contacts_uids(contacts.client, EVERY_CONTACT, NULL, uids_read, NULL);
}

static void contacts_with_registry(void) {
  ESource *book = e_source_registry_ref_default_address_book(registry);
  if (book == NULL) fail("no default address book", NULL);
  e_book_client_connect(book, NO_CONNECT_WAIT, NULL, book_opened, NULL);
  g_object_unref(book);
}

static void contacts_authorized(void) {
  make_registry(contacts_with_registry);
}

int main(int argc, char **argv) {
  if (argc != 2 || (strcmp(argv[1], "reminders") != 0 && strcmp(argv[1], "contacts") != 0)) {
    fprintf(stderr, "usage: %s reminders|contacts\n", argv[0]);
    return 2;
  }
  tzset();
  if (strcmp(argv[1], "reminders") == 0) {
    read_state(CALENDAR_FACTORY_BUS_NAME, reminders_authorized);
  } else {
    read_state(ADDRESS_BOOK_FACTORY_BUS_NAME, contacts_authorized);
  }
  g_main_loop_run(g_main_loop_new(NULL, FALSE));
  return 1; /* not reached: the run ends in finish() or fail() */
}
