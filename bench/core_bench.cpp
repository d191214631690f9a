// Micro benchmarks of the per-record work, without any file: reading a
// record line into an ElementRecord, formatting the element line and each
// of its fixed-point fields, splitting the input into lines and the whole
// per-record path with its console line.
//
// The records are the real published lines of examples/sample.txt; every
// benchmark cycles through all of them, so no single line's branches are
// learned by the predictor. Per-item times are in the "time" column, as
// the benchmarks count one item per record or field.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "columns.hpp"
#include "convert.hpp"
#include "convert_line.hpp"
#include "fixed.hpp"
#include "lines.hpp"
#include "visibility.hpp"

namespace orbelm {
namespace {

struct Samples {
  std::vector<std::string> minor_planets;
  std::vector<std::string> comets;
  std::string text;  // the whole file
};

const Samples& samples() {
  static const Samples loaded = [] {
    Samples s;
    std::ifstream in(ORBELM_EXAMPLES "/sample.txt", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      s.text.append(line).push_back('\n');
      const LineClass c = classify_line(line);
      if (!c.is_record) continue;
      (c.kind == RecordKind::MinorPlanet ? s.minor_planets : s.comets)
          .push_back(line);
    }
    if (s.minor_planets.empty() || s.comets.empty())
      std::fprintf(stderr, "core_bench: no records in %s/sample.txt\n",
                   ORBELM_EXAMPLES);
    return s;
  }();
  return loaded;
}

// The record of each line, converted once outside the timed loops.
std::vector<ElementRecord> records(const std::vector<std::string>& lines,
                                   RecordKind kind) {
  std::vector<ElementRecord> out;
  for (const std::string& line : lines) {
    const std::string_view designation =
        designation_token(line, classify_line(line).designation_column);
    ElementRecord r = kind == RecordKind::MinorPlanet
                          ? convert_minor_planet(line, designation)
                          : convert_comet(line, designation);
    build_name_field(r.short_name.view(), designation, kind, r.name_field);
    out.push_back(r);
  }
  return out;
}

template <typename Item, typename Body>
void cycle(benchmark::State& state, const std::vector<Item>& items, Body body) {
  std::size_t i = 0;
  for (auto _ : state) {
    body(items[i]);
    if (++i == items.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ConvertMinorPlanet(benchmark::State& state) {
  cycle(state, samples().minor_planets, [](const std::string& line) {
    ElementRecord r =
        convert_minor_planet(line, std::string_view(line).substr(0, 7));
    benchmark::DoNotOptimize(r);
  });
}
BENCHMARK(BM_ConvertMinorPlanet);

void BM_ConvertComet(benchmark::State& state) {
  cycle(state, samples().comets, [](const std::string& line) {
    ElementRecord r = convert_comet(line, std::string_view(line).substr(0, 5));
    benchmark::DoNotOptimize(r);
  });
}
BENCHMARK(BM_ConvertComet);

void format_lines(benchmark::State& state, RecordKind kind,
                  const std::vector<std::string>& lines) {
  char out[MAX_ELEMENT_LINE];
  cycle(state, records(lines, kind), [&](const ElementRecord& r) {
    benchmark::DoNotOptimize(format_element_line(kind, r, out));
    benchmark::ClobberMemory();
  });
}

void BM_FormatElementLineMinorPlanet(benchmark::State& state) {
  format_lines(state, RecordKind::MinorPlanet, samples().minor_planets);
}
BENCHMARK(BM_FormatElementLineMinorPlanet);

void BM_FormatElementLineComet(benchmark::State& state) {
  format_lines(state, RecordKind::Comet, samples().comets);
}
BENCHMARK(BM_FormatElementLineComet);

// Reading one numeric field. Arg 0: the fields of records as published,
// plain decimals, which are read in one pass; arg 1: the forms that the
// general reading takes (an exponent, more digits than a double holds).
void BM_ReadNumber(benchmark::State& state) {
  static const std::vector<std::string_view> fields[] = {
      {" 3.34", " 0.15", " 80.25584", " 0.0785375", "  2.7666197", "0.21418562",
       "  73.42179", "2461600.03372"},
      {"1.5e3", "-2.5D-1", "6.02214076e23", "  7.1E+02", "1e-5",
       "3.14159265358979323846", "0.12345678901234567890", "9.8765d-300"}};
  cycle(state, fields[state.range(0)], [](std::string_view field) {
    benchmark::DoNotOptimize(read_double(field));
  });
}
BENCHMARK(BM_ReadNumber)->Arg(0)->Arg(1);

// One field of the minor-planet layout: its width, precision and value.
struct Field {
  int width;
  int precision;
  double (*value)(const ElementRecord&);
};

constexpr Field MINOR_PLANET_FIELDS[] = {
    {14, 6, [](const ElementRecord& r) { return r.perihelion_time; }},
    {12, 8, [](const ElementRecord& r) { return r.perihelion_distance; }},
    {9, 7, [](const ElementRecord& r) { return r.inclination; }},
    {9, 7, [](const ElementRecord& r) { return r.arg_perihelion; }},
    {9, 7, [](const ElementRecord& r) { return r.ascending_node; }},
    {8, 1, [](const ElementRecord& r) { return r.magnitude_code; }},
    {13, 5, [](const ElementRecord& r) { return r.epoch; }},
};

// Each fixed-point field of the minor-planet line alone; the argument is
// the field's index in MINOR_PLANET_FIELDS.
void BM_FormatFixedField(benchmark::State& state) {
  const Field& field = MINOR_PLANET_FIELDS[state.range(0)];
  std::vector<double> values;
  for (const ElementRecord& r :
       records(samples().minor_planets, RecordKind::MinorPlanet))
    values.push_back(field.value(r));
  char out[FIXED_MAX_CHARS];
  cycle(state, values, [&](double value) {
    benchmark::DoNotOptimize(
        format_fixed(value, field.width, field.precision, out));
    benchmark::ClobberMemory();
  });
  char label[16];
  std::snprintf(label, sizeof label, "%%%d.%df", field.width, field.precision);
  state.SetLabel(label);
}
BENCHMARK(BM_FormatFixedField)->DenseRange(0, 6);

// All seven fixed-point fields of one minor-planet line.
void BM_FormatSevenFieldsMinorPlanet(benchmark::State& state) {
  char out[7 * FIXED_MAX_CHARS];
  cycle(state, records(samples().minor_planets, RecordKind::MinorPlanet),
        [&](const ElementRecord& r) {
          std::size_t size = 0;
          for (const Field& field : MINOR_PLANET_FIELDS)
            size += format_fixed(field.value(r), field.width, field.precision,
                                 out + size);
          benchmark::DoNotOptimize(size);
          benchmark::ClobberMemory();
        });
}
BENCHMARK(BM_FormatSevenFieldsMinorPlanet);

// Splitting the input into lines: one item per line of sample.txt.
void BM_SplitLines(benchmark::State& state) {
  const std::string& text = samples().text;
  std::size_t lines = 0;
  for (auto _ : state) {
    LineReader reader;
    std::span<char> space = input_space(reader);
    text.copy(space.data(), text.size());
    commit_input(reader, text.size());
    finish_input(reader);
    LinePiece piece;
    while (next_piece(reader, piece)) {
      benchmark::DoNotOptimize(piece);
      ++lines;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(lines));
}
BENCHMARK(BM_SplitLines);

// The whole per-record path of a run except the element file: classify,
// designation, convert, name field, element line, and the console line
// through a 64 KiB buffer into /dev/null, as the program prints it.
void BM_RecordWithConsoleLine(benchmark::State& state) {
  std::FILE* console = std::fopen("/dev/null", "w");
  if (console == nullptr) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  std::setvbuf(console, nullptr, _IOFBF, 1 << 16);
  ConvertedLine converted;
  cycle(state, samples().minor_planets, [&](const std::string& line) {
    if (convert_line(line, converted) == LineOutcome::Converted) {
      std::fwrite(converted.file_name, 1, converted.file_name_size, console);
      std::fwrite("\n", 1, 1, console);
    }
    benchmark::DoNotOptimize(converted);
  });
  std::fclose(console);
}
BENCHMARK(BM_RecordWithConsoleLine);

// The records of the visibility benchmark: the file named by
// ORBELM_SKY_RECORDS (bench/make_records.py --sky 300000 makes a
// catalogue's mix), else the minor planets of sample.txt.
const std::vector<std::string>& sky_records() {
  static const std::vector<std::string> lines = [] {
    const char* path = std::getenv("ORBELM_SKY_RECORDS");
    if (path == nullptr) return samples().minor_planets;
    std::vector<std::string> read;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) read.push_back(line);
    return read;
  }();
  return lines;
}

// brightest_sighting for each record: V <= 18, no elongation limit, a
// window of range(0) days from 2026-12-11 (the window is made once, outside
// the timing). The cost a record adds to a run that selects by apparent
// magnitude; "visible" counts the share selected.
void BM_BrightestSighting(benchmark::State& state) {
  const SkyWindow window = make_sky_window(
      2461385.5, static_cast<double>(state.range(0)), 18.0, 0.0);
  const std::vector<std::string>& lines = sky_records();
  std::size_t visible = 0;
  cycle(state, lines, [&](const std::string& line) {
    Sighting sighting{};
    const LineClass c = classify_line(line);
    visible += brightest_sighting(window, c.kind, line, sighting) ==
               Visibility::Visible;
    benchmark::DoNotOptimize(sighting);
  });
  state.counters["visible"] = benchmark::Counter(
      static_cast<double>(visible) / static_cast<double>(state.iterations()));
  state.SetLabel(std::getenv("ORBELM_SKY_RECORDS") ? "ORBELM_SKY_RECORDS"
                                                   : "sample.txt");
}
BENCHMARK(BM_BrightestSighting)->Arg(1)->Arg(30)->Arg(365);

}  // namespace
}  // namespace orbelm

BENCHMARK_MAIN();
