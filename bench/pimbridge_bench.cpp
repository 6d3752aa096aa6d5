// pimbridge_bench: how fast the tool turns an answer into JSON text, next to
// two general JSON libraries and a plain copy, and what a whole export costs
// per row as the export grows.
//
// Before anything is timed, every peer's text for each corpus is parsed and
// compared with the tool's, so that every contender is seen doing the same
// work; a difference ends the run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "answer/json_writer.hpp"
#include "contacts/contacts.hpp"
#include "corpus.hpp"
#include "peers.hpp"
#include "reminders/reminders.hpp"

namespace {

using namespace pimbridge;

constexpr std::size_t corpusRows = 100'000;
constexpr std::size_t corpusContacts = 500;

[[noreturn]] void stop(const std::string& why) {
  std::fprintf(stderr, "pimbridge_bench: %s\n", why.c_str());
  std::exit(1);
}

answer::JsonText pimbridgeText(const answer::ResultMap& map) {
  answer::JsonText text;
  if (!answer::writeJson(map, text)) stop("the tool's writer refused the corpus");
  return text;
}

// True when every "/" of the JSON text stands escaped as "\/".
bool solidusEscaped(std::string_view json) {
  for (std::size_t i = 0; i < json.size(); ++i) {
    if (json[i] == '\\') {
      ++i;
    } else if (json[i] == '/') {
      return false;
    }
  }
  return true;
}

// Equal work: each contender's text must parse to the tool's value and keep
// the "/" rule.
void checkSameAnswer(const std::string& corpus, const answer::ResultMap& map) {
  const auto reference = pimbridgeText(map);
  const auto expected = nlohmann::json::parse(reference.view());
  auto check = [&](const std::string& who, std::string_view text) {
    if (!solidusEscaped(text)) stop(corpus + ": " + who + " left a \"/\" unescaped");
    nlohmann::json parsed;
    try {
      parsed = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
      stop(corpus + ": " + who + "'s text does not parse: " + e.what());
    }
    if (parsed != expected) stop(corpus + ": " + who + "'s text differs from the tool's");
  };
  check("pimbridge", reference.view());
  const auto rapid = bench::rapidjsonText(map);
  if (!rapid) stop(corpus + ": RapidJSON refused the corpus");
  check("RapidJSON", rapid->view());
  const auto lohmann = bench::nlohmannText(bench::nlohmannValue(map));
  if (!lohmann) stop(corpus + ": nlohmann refused the corpus");
  check("nlohmann", lohmann->view());
}

// Equal strictness: every writer must refuse each kind of invalid UTF-8.
void checkSameStrictness() {
  const std::pair<const char*, std::string> bad[] = {
      {"stray continuation", "\x80"},      {"overlong C0", "\xC0\xAF"},   {"overlong E0", "\xE0\x80\xAF"},
      {"overlong F0", "\xF0\x8F\xBF\xBF"}, {"surrogate", "\xED\xA0\x80"}, {"above U+10FFFF", "\xF4\x90\x80\x80"},
      {"lead F5", "\xF5\x80\x80\x80"},     {"truncated", "ab\xE6\x97"},
  };
  for (const auto& [name, bytes] : bad) {
    answer::ResultMap map;
    map.setText("title", "before " + bytes + " after");
    answer::JsonText text;
    if (answer::writeJson(map, text)) stop(std::string("pimbridge accepted ") + name);
    if (bench::rapidjsonText(map)) stop(std::string("RapidJSON accepted ") + name);
    if (bench::nlohmannText(bench::nlohmannValue(map))) stop(std::string("nlohmann accepted ") + name);
  }
}

void reportBytes(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The four contenders on one map. Each run starts from the finished result map
// and ends with the finished text in memory, as the tool does once per answer.
void registerEmit(const std::string& family, const answer::ResultMap& map) {
  const std::size_t outputBytes = pimbridgeText(map).size();

  benchmark::RegisterBenchmark((family + "/pimbridge").c_str(), [&map, outputBytes](benchmark::State& state) {
    for (auto _ : state) {
      answer::JsonText text;
      if (!answer::writeJson(map, text)) state.SkipWithError("refused");
      benchmark::DoNotOptimize(text.data());
    }
    reportBytes(state, outputBytes);
  });

  benchmark::RegisterBenchmark((family + "/rapidjson").c_str(), [&map, outputBytes](benchmark::State& state) {
    for (auto _ : state) {
      auto text = bench::rapidjsonText(map);
      if (!text) state.SkipWithError("refused");
      benchmark::DoNotOptimize(text->data());
    }
    reportBytes(state, outputBytes);
  });

  // Building the library's value is part of the work: the library has no way
  // to write JSON text from anything else.
  benchmark::RegisterBenchmark((family + "/nlohmann").c_str(), [&map, outputBytes](benchmark::State& state) {
    for (auto _ : state) {
      auto text = bench::nlohmannText(bench::nlohmannValue(map));
      if (!text) state.SkipWithError("refused");
      benchmark::DoNotOptimize(text->data());
    }
    reportBytes(state, outputBytes);
  });

  // For reference only: dump() and the "/" pass of a value built beforehand.
  benchmark::RegisterBenchmark((family + "/nlohmann_dump_only").c_str(), [&map, outputBytes](benchmark::State& state) {
    const auto value = bench::nlohmannValue(map);
    for (auto _ : state) {
      auto text = bench::nlohmannText(value);
      if (!text) state.SkipWithError("refused");
      benchmark::DoNotOptimize(text->data());
    }
    reportBytes(state, outputBytes);
  });

  // For reference only: the peers' walk over the read interface, writing nothing.
  benchmark::RegisterBenchmark((family + "/walk_only").c_str(), [&map, outputBytes](benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(bench::walk(map));
    reportBytes(state, outputBytes);
  });

  // The physical limit: copying as many bytes as the text holds.
  benchmark::RegisterBenchmark((family + "/memcpy").c_str(), [outputBytes](benchmark::State& state) {
    std::vector<char> from(outputBytes, 'x');
    std::vector<char> to(outputBytes);
    for (auto _ : state) {
      std::memcpy(to.data(), from.data(), outputBytes);
      benchmark::DoNotOptimize(to.data());
      benchmark::ClobberMemory();
    }
    reportBytes(state, outputBytes);
  });
}

// Seconds per row, shown as a time.
void reportPerRow(benchmark::State& state, std::size_t rows) {
  state.counters["per_row"] = benchmark::Counter(
      static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

const std::vector<stores::Reminder>& reminderSource(std::size_t rows) {
  static std::map<std::size_t, std::vector<stores::Reminder>> made;
  auto it = made.find(rows);
  if (it == made.end()) it = made.emplace(rows, bench::reminders(rows, bench::corpusSeed)).first;
  return it->second;
}

long minorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// Hands the memory that the allocator holds free back to the system, so that
// the next run touches fresh pages, as a new process does.
void releaseFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

// The whole path of "reminders" for one list from the store's rows to the
// finished text, without the fetch and without output. Each run gets its own
// copy of the store's rows, made while the clock is stopped, because the rows
// are consumed; what the previous run made is freed there too.
void exportReminders(benchmark::State& state, bool freshPages) {
  const auto rows = static_cast<std::size_t>(state.range(0));
  const auto& source = reminderSource(rows);
  const std::string listTitle = "Groceries";
  std::optional<std::vector<stores::Reminder>> delivered;
  std::vector<std::vector<reminders::ReminderRow>> fetched;
  answer::ResultMap result;
  answer::JsonText text;
  long faults = 0;
  auto prepare = [&] {
    fetched.clear();
    result = answer::ResultMap();
    text = answer::JsonText();
    delivered = source;
    if (freshPages) releaseFreeMemory();
  };
  auto run = [&] {
    fetched.push_back(reminders::rowsOf(std::move(delivered), listTitle));
    result = reminders::remindersResult(fetched);
    return answer::writeJson(result, text);
  };
  if (!freshPages) {
    // Two untimed runs first, so that even a single timed run finds the
    // memory it needs already in the heap, laid out as it will be.
    for (int i = 0; i < 2; ++i) {
      prepare();
      run();
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    prepare();
    const long faultsBefore = minorFaults();
    state.ResumeTiming();

    if (!run()) state.SkipWithError("refused");
    benchmark::DoNotOptimize(text.data());

    state.PauseTiming();
    faults += minorFaults() - faultsBefore;
    state.ResumeTiming();
  }
  reportPerRow(state, rows);
  state.counters["faults_per_row"] =
      static_cast<double>(faults) / static_cast<double>(state.iterations()) / static_cast<double>(rows);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Memory the allocator has used before is used again, whatever the size: the
// cost of the tool's own work per row.
void BM_ExportReminders(benchmark::State& state) {
  exportReminders(state, false);
}
BENCHMARK(BM_ExportReminders)->Arg(1'000)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Every run in pages the process has not touched yet, as a run of the tool
// is: adds the system's cost of providing fresh memory.
void BM_ExportRemindersFreshPages(benchmark::State& state) {
  exportReminders(state, true);
}
BENCHMARK(BM_ExportRemindersFreshPages)
    ->Arg(1'000)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

// The whole path of "contacts" from the delivered contacts to the finished text.
void BM_ExportContacts(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto source = bench::contacts(count, bench::corpusSeed);
  std::vector<stores::Contact> delivered;
  std::vector<contacts::ContactRow> rows;
  answer::ResultMap result;
  answer::JsonText text;
  for (auto _ : state) {
    state.PauseTiming();
    rows.clear();
    rows.reserve(count);
    result = answer::ResultMap();
    text = answer::JsonText();
    delivered = source;
    state.ResumeTiming();

    for (auto& contact : delivered) rows.push_back(contacts::rowOf(std::move(contact)));
    result = contacts::contactsResult(rows);
    if (!answer::writeJson(result, text)) state.SkipWithError("refused");
    benchmark::DoNotOptimize(text.data());
  }
  reportPerRow(state, count);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ExportContacts)->Arg(500)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // NOTE: two glibc habits would make the export's per-row times compare the
  // allocator's regimes rather than the code, so both are turned off.
  // - Every block above 32 MiB comes from a fresh mapping that is unmapped when
  //   the block is freed, whatever the mmap threshold is set to; smaller blocks
  //   are kept for reuse. An export of 1,000,000 rows would pay for fresh pages
  //   on every run and one of 10,000 rows never; here every size reuses its
  //   memory (BM_ExportRemindersFreshPages measures the other regime).
  // - Small freed blocks wait in "fast bins" until the next large request
  //   sweeps them all. In the tool the rows and their texts are made on the
  //   fetch's thread and so belong to another arena than the answer's large
  //   blocks, which never sweep them; in this one-thread benchmark the answer's
  //   buffer would sweep millions of cold blocks at 1,000,000 rows. Without fast
  //   bins each block is merged while it is still in the cache.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, -1);
  mallopt(M_MXFAST, 0);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  static const answer::ResultMap remindersCorpus =
      bench::remindersMap(bench::reminderLists(corpusRows, bench::corpusSeed));
  static const answer::ResultMap contactsCorpus =
      bench::contactsMap(bench::contacts(corpusContacts, bench::corpusSeed));

  checkSameStrictness();
  checkSameAnswer("reminders corpus", remindersCorpus);
  checkSameAnswer("contacts corpus", contactsCorpus);
  benchmark::AddCustomContext("reminders_corpus", std::to_string(corpusRows) + " rows, " +
                                                      std::to_string(pimbridgeText(remindersCorpus).size()) +
                                                      " bytes of JSON");
  benchmark::AddCustomContext("contacts_corpus", std::to_string(corpusContacts) + " contacts, " +
                                                     std::to_string(pimbridgeText(contactsCorpus).size()) +
                                                     " bytes of JSON");

  registerEmit("BM_Emit", remindersCorpus);
  registerEmit("BM_EmitContacts", contactsCorpus);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
