// Parse and write times of the twjson documents on large inputs, next to the
// same documents in nlohmann-json and, as the upper reference, RapidJSON (both
// installed for this comparison only).
//
//   wide: 5,000 members, each an object of six fields (about 40,000 values)
//   deep: 500 levels of objects, each with five scalars and a small array
//
// Both libraries read the same bytes: the twjson writer's text of the document.
// After the table, each of twjson's times as a ratio to the other libraries',
// medians of five repetitions.

#include <tidewall/twjson.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#if __has_include(<rapidjson/document.h>)
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#define TW_HAVE_RAPIDJSON 1
#endif

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define TW_HAVE_NLOHMANN 1
#endif

namespace {

twjson::Object member(unsigned i) {
    char name[32];
    std::snprintf(name, sizeof name, "disk-%05u", i);
    twjson::Array tags;
    tags << "metadata" << (i % 2 ? "thin" : "thick");
    twjson::Object o;
    o << "name" << name << "size" << (1ull << 30) * (i + 1) << "ratio" << 0.25L * i << "thin" << (i % 2 == 1) << "path"
      << std::string("/dev/mapper/metadatavg-") + name << "tags" << std::move(tags);
    return o;
}

twjson::Object wide_document() {
    twjson::Object doc;
    for (unsigned i = 0; i < 5000; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "member%05u", i);
        doc << key << member(i);
    }
    return doc;
}

twjson::Object deep_document() {
    twjson::Object inner;
    for (unsigned level = 500; level-- > 0;) {
        twjson::Array numbers;
        numbers << level << level * 2.5L << -static_cast<long long>(level);
        twjson::Object o;
        o << "level" << level << "label"
          << "level \"" + std::to_string(level) + "\""
          << "even" << (level % 2 == 0) << "scale" << level / 7.0L << "none" << twjson::Null() << "numbers"
          << std::move(numbers);
        if (!inner.empty()) o << "child" << std::move(inner);
        inner = std::move(o);
    }
    return inner;
}

const std::string& wide_text() {
    static const std::string text = wide_document().json();
    return text;
}

const std::string& deep_text() {
    static const std::string text = deep_document().json();
    return text;
}

void twjson_parse(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        twjson::Object doc;
        if (!doc.parse(text)) state.SkipWithError("twjson refused its own text");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void twjson_write(benchmark::State& state, const std::string& text) {
    twjson::Object doc;
    doc.parse(text);
    for (auto _ : state) {
        std::string out = doc.json();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

#ifdef TW_HAVE_NLOHMANN
void nlohmann_parse(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        nlohmann::json doc = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Indented with tabs, like the twjson text, so both write about the same bytes.
void nlohmann_write(benchmark::State& state, const std::string& text) {
    const nlohmann::json doc = nlohmann::json::parse(text);
    for (auto _ : state) {
        std::string out = doc.dump(1, '\t');
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

#endif

#ifdef TW_HAVE_RAPIDJSON
void rapidjson_parse(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse(text.c_str(), text.size());
        if (doc.HasParseError()) state.SkipWithError("RapidJSON refused the text");
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Indented with one tab a level, like the twjson text.
void rapidjson_write(benchmark::State& state, const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent('\t', 1);
        doc.Accept(writer);
        std::string out(buffer.GetString(), buffer.GetSize());
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

#endif

using bench_body = void (*)(benchmark::State&, const std::string&);

// One library's four benchmarks, named BM_<library>_<parse|write>_<wide|deep>
// as the ratios below look them up.
void register_library(const char* library, bench_body parse, bench_body write) {
    for (auto [work, body] : {std::pair{"parse", parse}, std::pair{"write", write}})
        for (auto [shape, text] : {std::pair{"wide", &wide_text}, std::pair{"deep", &deep_text}})
            benchmark::RegisterBenchmark((std::string("BM_") + library + "_" + work + "_" + shape).c_str(),
                                         [body = body, text = text](benchmark::State& state) { body(state, text()); });
}

// Keeps every run's time beside the usual table, to print the ratios after it.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, as the library's own main does.
    ratio_reporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            if (r.error_occurred) continue;
            if (r.run_type == Run::RT_Iteration) seconds_[r.run_name.str()].push_back(r.GetAdjustedRealTime());
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                median_[r.run_name.str()] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Above 1: twjson takes less time than the other library on the same work.
    void print_ratios() const {
        std::printf("\ntwjson's speed as a multiple of the other library's (time of the other / time of twjson)\n");
        for (const char* work : {"parse_wide", "parse_deep", "write_wide", "write_deep"}) {
            std::printf("  %-11s", work);
            for (const char* other : {"nlohmann", "rapidjson"}) {
                double ours = time_of(std::string("BM_twjson_") + work);
                double theirs = time_of(std::string("BM_") + other + "_" + work);
                if (ours <= 0 || theirs <= 0)
                    std::printf("   %s: not measured", other);
                else
                    std::printf("   %s: %.2f", other, theirs / ours);
            }
            std::printf("\n");
        }
    }

private:
    // The median of the repetitions; 0 when the benchmark did not run.
    double time_of(const std::string& name) const {
        auto m = median_.find(name);
        if (m != median_.end()) return m->second;
        auto it = seconds_.find(name);
        if (it == seconds_.end() || it->second.empty()) return 0;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }

    std::map<std::string, std::vector<double>> seconds_;
    std::map<std::string, double> median_;
};

}  // namespace

int main(int argc, char** argv) {
    // Five repetitions unless the command line says otherwise (a later flag
    // wins): one run of each swings by a third on a shared machine.
    std::vector<char*> args(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=5";
    args.insert(args.begin() + 1, repetitions);
    args.push_back(nullptr);
    argc = static_cast<int>(args.size()) - 1;
    argv = args.data();
    register_library("twjson", twjson_parse, twjson_write);
#ifdef TW_HAVE_NLOHMANN
    register_library("nlohmann", nlohmann_parse, nlohmann_write);
#endif
#ifdef TW_HAVE_RAPIDJSON
    register_library("rapidjson", rapidjson_parse, rapidjson_write);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
