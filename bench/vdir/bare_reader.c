/* The floor for the vdir backend: a C program that reads the same folders
 * with the same libraries and the same care (sorted names, links refused,
 * regular files of at most 4 MiB read whole, text checked as UTF-8, one zone
 * object per distinct VTIMEZONE), and prints one line per row, without the
 * tool's bounds, threads or JSON.
 *
 *   pimbridge_vdir_bare_reader tasks TASKS_ROOT    every list, stopping after
 *                                                  the one that crosses 1,000
 *   pimbridge_vdir_bare_reader contacts BOOK       the first 500 cards
 */
#define _DEFAULT_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <libebook-contacts/libebook-contacts.h>
#include <libical/ical.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define SIZE_LIMIT (4 * 1024 * 1024)

static int byName(const void* a, const void* b) {
  return strcmp(*(char* const*)a, *(char* const*)b);
}

/* The entries of a folder ending in the extension (or every subfolder when
 * it is NULL), sorted; the count goes to *count. */
static char** sortedNames(const char* folder, const char* extension, size_t* count) {
  DIR* dir = opendir(folder);
  size_t n = 0, capacity = 64;
  char** names = malloc(capacity * sizeof *names);
  struct dirent* entry;
  *count = 0;
  if (dir == NULL) return names;
  while ((entry = readdir(dir)) != NULL) {
    const size_t length = strlen(entry->d_name);
    if (entry->d_name[0] == '.') continue;
    if (extension != NULL) {
      const size_t ext = strlen(extension);
      if (length <= ext || strcmp(entry->d_name + length - ext, extension) != 0) continue;
    } else if (entry->d_type != DT_DIR) {
      continue;
    }
    if (n == capacity) names = realloc(names, (capacity *= 2) * sizeof *names);
    names[n++] = strdup(entry->d_name);
  }
  closedir(dir);
  qsort(names, n, sizeof *names, byName);
  *count = n;
  return names;
}

static char* readItem(const char* path) {
  struct stat info;
  char* text;
  ssize_t got;
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return NULL;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > SIZE_LIMIT) {
    close(fd);
    return NULL;
  }
  text = malloc((size_t)info.st_size + 1);
  got = read(fd, text, (size_t)info.st_size);
  close(fd);
  if (got != info.st_size || !g_utf8_validate_len(text, (gsize)got, NULL)) {
    free(text);
    return NULL;
  }
  text[got] = '\0';
  return text;
}

/* The zones the list's files define, one per distinct VTIMEZONE text, as the
 * tool keeps them. */
#define MAX_ZONES 64
static char* zoneTexts[MAX_ZONES];
static icaltimezone* zoneObjects[MAX_ZONES];
static size_t zoneCount;

static icaltimezone* ownZone(icalcomponent* calendar, const char* tzid) {
  /* An iterator of its own: the caller is going through the calendar's tasks
   * with the calendar's one built-in iterator. */
  icalcompiter blocks = icalcomponent_begin_component(calendar, ICAL_VTIMEZONE_COMPONENT);
  icalcomponent* block;
  size_t i;
  for (block = icalcompiter_deref(&blocks); block != NULL; block = icalcompiter_next(&blocks)) {
    icalproperty* id = icalcomponent_get_first_property(block, ICAL_TZID_PROPERTY);
    char* text;
    icaltimezone* zone;
    if (id == NULL || strcmp(icalproperty_get_tzid(id), tzid) != 0) continue;
    text = icalcomponent_as_ical_string_r(block);
    for (i = 0; i < zoneCount; ++i) {
      if (strcmp(zoneTexts[i], text) == 0) {
        icalmemory_free_buffer(text);
        return zoneObjects[i];
      }
    }
    zone = icaltimezone_new();
    icaltimezone_set_component(zone, icalcomponent_new_clone(block));
    if (zoneCount < MAX_ZONES) {
      zoneTexts[zoneCount] = text;
      zoneObjects[zoneCount++] = zone;
    } else {
      icalmemory_free_buffer(text);
    }
    return zone;
  }
  return NULL;
}

static void printDue(icalcomponent* calendar, icalcomponent* task) {
  icalproperty* due = icalcomponent_get_first_property(task, ICAL_DUE_PROPERTY);
  icaltimetype time;
  icalparameter* tzid;
  icaltimezone* zone = NULL;
  if (due == NULL) {
    fputs("\tnull", stdout);
    return;
  }
  time = icalproperty_get_due(due);
  tzid = icalproperty_get_first_parameter(due, ICAL_TZID_PARAMETER);
  if (tzid != NULL && !time.is_date && !icaltime_is_utc(time)) {
    zone = ownZone(calendar, icalparameter_get_tzid(tzid));
    if (zone == NULL) zone = icaltimezone_get_builtin_timezone(icalparameter_get_tzid(tzid));
    if (zone == NULL) {
      fputs("\tnull", stdout);
      return;
    }
  }
  printf("\t%lld", (long long)icaltime_as_timet_with_zone(time, zone));
}

static size_t readList(const char* folder) {
  size_t count = 0, rows = 0, i;
  char** names = sortedNames(folder, ".ics", &count);
  char path[8192];
  for (i = 0; i < count; ++i) {
    char* text;
    icalcomponent* root;
    icalcomponent* task;
    snprintf(path, sizeof path, "%s/%s", folder, names[i]);
    text = readItem(path);
    root = text != NULL ? icalparser_parse_string(text) : NULL;
    free(text);
    free(names[i]);
    if (root == NULL) continue;
    for (task = icalcomponent_get_first_component(root, ICAL_VTODO_COMPONENT); task != NULL;
         task = icalcomponent_get_next_component(root, ICAL_VTODO_COMPONENT)) {
      const char* summary = icalcomponent_get_summary(task);
      printf("%s\t%s", icalcomponent_get_uid(task), summary != NULL ? summary : "");
      printDue(root, task);
      printf("\t%d\n", icalcomponent_get_status(task) == ICAL_STATUS_COMPLETED ||
                           icalcomponent_get_first_property(task, ICAL_COMPLETED_PROPERTY) != NULL);
      ++rows;
    }
    icalcomponent_free(root);
  }
  free(names);
  return rows;
}

static void readTasks(const char* root) {
  size_t count = 0, rows = 0, i;
  char** lists = sortedNames(root, NULL, &count);
  char folder[4096];
  for (i = 0; i < count; ++i) {
    snprintf(folder, sizeof folder, "%s/%s", root, lists[i]);
    if (rows < 1000) rows += readList(folder);
    free(lists[i]);
  }
  free(lists);
}

static void printValues(EVCard* card, const char* kind) {
  GList* item;
  for (item = e_vcard_get_attributes(card); item != NULL; item = item->next) {
    EVCardAttribute* attribute = item->data;
    if (g_ascii_strcasecmp(e_vcard_attribute_get_name(attribute), kind) == 0) {
      GList* value = e_vcard_attribute_get_values(attribute);
      printf("\t%s", value != NULL && value->data != NULL ? (const char*)value->data : "");
    }
  }
}

static void readContacts(const char* book) {
  size_t count = 0, given = 0, i;
  char** names = sortedNames(book, ".vcf", &count);
  char path[8192];
  for (i = 0; i < count; ++i) {
    char* text;
    snprintf(path, sizeof path, "%s/%s", book, names[i]);
    text = given < 500 ? readItem(path) : NULL;
    free(names[i]);
    if (text != NULL) {
      EVCard* card = e_vcard_new_from_string(text);
      EVCardAttribute* n = e_vcard_get_attribute(card, EVC_N);
      EVCardAttribute* uid = e_vcard_get_attribute(card, EVC_UID);
      GList* parts = n != NULL ? e_vcard_attribute_get_values(n) : NULL;
      printf("%s", uid != NULL ? e_vcard_attribute_get_value(uid) : "");
      printf("\t%s", parts != NULL && parts->data != NULL ? (const char*)parts->data : "");
      printf("\t%s", parts != NULL && parts->next != NULL && parts->next->data != NULL ? (const char*)parts->next->data : "");
      printValues(card, EVC_TEL);
      printValues(card, EVC_EMAIL);
      putchar('\n');
      g_object_unref(card);
      free(text);
      ++given;
    }
  }
  free(names);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: pimbridge_vdir_bare_reader tasks|contacts FOLDER\n", stderr);
    return 2;
  }
  if (strcmp(argv[1], "tasks") == 0) {
    readTasks(argv[2]);
  } else {
    readContacts(argv[2]);
  }
  return 0;
}
