// The album parser's extraction: the title, the music address and every photo address of a
// data document (Exec, then ExecNext to the end), over generated documents from 1 KB to
// 10 MB, against PCRE2's interpreter (no JIT) doing the same work in the same run. After the
// usual table it prints, per size, the time ratio engine / PCRE2 and the time per byte (flat
// when the time is linear in the document's size).
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "regex/RegExpr.h"

namespace {

const char* const kPatterns[3] = {"\"name\":\"(.*?)\"", "\"mp3\":\"(.*?)\"", "\"url\":\"(.*?)\""};

// A data document of about `size` bytes: a header with the title and the music, then photo
// entries (one per line, CR LF, escaped slashes as the service writes them), at most 100,000,
// then padding entries without addresses.
std::string MakeDocument(std::size_t size) {
    std::string doc = "{\"code\":0,\"data\":{\"name\":\"Summer trip 2009\",\"desc\":\"\",\r\n"
                      "\"mp3\":\"http:\\/\\/music.example\\/bg\\/31.mp3\",\"photos\":[\r\n";
    const std::size_t photoCount = size / 100 < 100000 ? size / 100 : 100000;
    for (std::size_t i = 0; i < photoCount && doc.size() < size; ++i) {
        doc += "{\"id\":" + std::to_string(i) + ",\"w\":640,\"h\":480,\"desc\":\"photo " + std::to_string(i % 97) +
               "\",\"url\":\"http:\\/\\/p.example\\/a\\/" + std::to_string(100000 + i) + ".jpg\"},\r\n";
    }
    while (doc.size() < size) doc += "{\"id\":-1,\"desc\":\"" + std::string(60, 'x') + "\"},\r\n";
    doc += "]}}\r\n";
    return doc;
}

const std::vector<std::size_t> kSizes = {1 << 10, 16 << 10, 256 << 10, 1 << 20, 4 << 20, 10 << 20};

const std::string& Document(std::size_t size) {
    static std::map<std::size_t, std::string> docs;
    auto it = docs.find(size);
    if (it == docs.end()) it = docs.emplace(size, MakeDocument(size)).first;
    return it->second;
}

struct Extracted {
    std::string title;
    std::string music;
    std::vector<std::string> urls;
};

Extracted ExtractEngine(const std::string& doc) {
    Extracted out;
    TRegExpr re;
    re.SetExpression(kPatterns[0]);
    if (re.Exec(doc)) out.title = re.SubMatch(1);
    re.SetExpression(kPatterns[1]);
    if (re.Exec(doc)) out.music = re.SubMatch(1);
    re.SetExpression(kPatterns[2]);
    if (re.Exec(doc)) {
        do {
            out.urls.push_back(re.SubMatch(1));
        } while (re.ExecNext());
    }
    return out;
}

Extracted ExtractPcre(const std::string& doc) {
    Extracted out;
    std::string* single[2] = {&out.title, &out.music};
    const auto* subject = reinterpret_cast<PCRE2_SPTR>(doc.data());
    for (int p = 0; p < 3; ++p) {
        int error = 0;
        PCRE2_SIZE errorOffset = 0;
        // DOTALL: the engine's '.' takes line breaks too.
        pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kPatterns[p]), PCRE2_ZERO_TERMINATED,
                                         PCRE2_DOTALL, &error, &errorOffset, nullptr);
        pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
        PCRE2_SIZE offset = 0;
        while (offset <= doc.size() && pcre2_match(code, subject, doc.size(), offset, 0, data, nullptr) >= 0) {
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
            std::string value(doc, ov[2], ov[3] - ov[2]);
            if (p < 2) {
                *single[p] = std::move(value);
                break;
            }
            out.urls.push_back(std::move(value));
            offset = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
        }
        pcre2_match_data_free(data);
        pcre2_code_free(code);
    }
    return out;
}

void BM_Engine(benchmark::State& state) {
    const std::string& doc = Document(static_cast<std::size_t>(state.range(0)));
    std::size_t urls = 0;
    for (auto _ : state) {
        Extracted e = ExtractEngine(doc);
        urls = e.urls.size();
        benchmark::DoNotOptimize(e);
    }
    state.counters["urls"] = static_cast<double>(urls);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.size()));
}

void BM_Pcre2(benchmark::State& state) {
    const std::string& doc = Document(static_cast<std::size_t>(state.range(0)));
    std::size_t urls = 0;
    for (auto _ : state) {
        Extracted e = ExtractPcre(doc);
        urls = e.urls.size();
        benchmark::DoNotOptimize(e);
    }
    state.counters["urls"] = static_cast<double>(urls);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.size()));
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (std::size_t size : kSizes) b->Arg(static_cast<std::int64_t>(size));
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_Engine)->Apply(Sizes);
BENCHMARK(BM_Pcre2)->Apply(Sizes);

// Keeps the per-run real times so that main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.benchmark_name();
            const std::size_t slash = name.find('/');
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            times[name.substr(0, slash)][std::stoul(name.substr(slash + 1))] = seconds;
        }
    }
    std::map<std::string, std::map<std::size_t, double>> times;
};

}  // namespace

int main(int argc, char** argv) {
    // Both sides must find the same values before their times mean anything.
    for (std::size_t size : kSizes) {
        const Extracted a = ExtractEngine(Document(size));
        const Extracted b = ExtractPcre(Document(size));
        if (a.title != b.title || a.music != b.music || a.urls != b.urls) {
            std::fprintf(stderr, "results differ for the %zu-byte document\n", size);
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%10s %8s %12s %12s %8s %14s %14s\n", "bytes", "urls", "engine us", "pcre2 us", "ratio",
                "engine ns/B", "pcre2 ns/B");
    for (std::size_t size : kSizes) {
        const auto& engine = reporter.times["BM_Engine"];
        const auto& pcre = reporter.times["BM_Pcre2"];
        if (!engine.count(size) || !pcre.count(size)) continue;
        const double e = engine.at(size);
        const double p = pcre.at(size);
        const std::size_t bytes = Document(size).size();
        std::printf("%10zu %8zu %12.1f %12.1f %8.3f %14.3f %14.3f\n", bytes, ExtractEngine(Document(size)).urls.size(),
                    e * 1e6, p * 1e6, e / p, e * 1e9 / static_cast<double>(bytes),
                    p * 1e9 / static_cast<double>(bytes));
    }
    return 0;
}
