// SPDX-License-Identifier: Apache-2.0
// The engine's costs in one run:
//  - compiling a pattern of 100,000 alternatives, at the top level and inside nested groups;
//  - an exponential search stopped by the backtrack limit;
//  - the album parser's extraction (the title, the music address and every photo address of a
//    data document: Exec, then ExecNext to the end) over generated documents from 1 KB to
//    10 MB, against PCRE2 with its JIT and PCRE2's interpreter doing the same work, compiling
//    included. Times are the process's CPU time (the machine is shared: time spent waiting
//    for a core does not count), medians of interleaved repetitions; the table also shows the
//    wall-clock medians and the time per byte (flat when the time is linear in the document's
//    size). The last line is the 10 MB document.
// Usage: regex_bench [REPETITIONS]   (default 9, at least 5)
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "regex/RegExpr.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// --- compiling ---------------------------------------------------------------------------

std::string Alternatives(int count) {
    std::string p = "x0";
    for (int i = 1; i < count; ++i) p += "|x" + std::to_string(i);
    return p;
}

double CompileMs(const std::string& pattern) {
    TRegExpr re;
    re.SetExpression(pattern);
    const Clock::time_point start = Clock::now();
    re.Prepare();
    return MsSince(start);
}

// --- extraction --------------------------------------------------------------------------

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

struct Extracted {
    std::string title;
    std::string music;
    std::vector<std::string> urls;
    bool operator==(const Extracted&) const = default;
};

Extracted ExtractEngine(const std::string& doc) {
    Extracted out;
    TRegExpr re;
    re.SetInputString(doc);  // taken once: each search starts from the beginning of it
    re.SetExpression(kPatterns[0]);
    if (re.ExecPos(1)) out.title = re.SubMatch(1);
    re.SetExpression(kPatterns[1]);
    if (re.ExecPos(1)) out.music = re.SubMatch(1);
    re.SetExpression(kPatterns[2]);
    if (re.ExecPos(1)) {
        do {
            out.urls.push_back(re.SubMatch(1));
        } while (re.ExecNext());
    }
    return out;
}

// The same with PCRE2: DOTALL because the engine's '.' takes line breaks too. With `jit` each
// pattern is compiled by the JIT and run through its fast entry.
Extracted ExtractPcre(const std::string& doc, bool jit) {
    Extracted out;
    std::string* single[2] = {&out.title, &out.music};
    const auto* subject = reinterpret_cast<PCRE2_SPTR>(doc.data());
    for (int p = 0; p < 3; ++p) {
        int error = 0;
        PCRE2_SIZE errorOffset = 0;
        pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kPatterns[p]), PCRE2_ZERO_TERMINATED,
                                         PCRE2_DOTALL, &error, &errorOffset, nullptr);
        if (jit && pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
            std::fprintf(stderr, "PCRE2 has no JIT here\n");
            std::exit(1);
        }
        pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
        PCRE2_SIZE offset = 0;
        for (;;) {
            if (offset > doc.size()) break;
            const int rc = jit ? pcre2_jit_match(code, subject, doc.size(), offset, 0, data, nullptr)
                               : pcre2_match(code, subject, doc.size(), offset, 0, data, nullptr);
            if (rc < 0) break;
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

struct SizeCase {
    std::size_t size;
    const char* label;
};

const SizeCase kSizes[] = {{1 << 10, "1 KB"},   {16 << 10, "16 KB"}, {256 << 10, "256 KB"},
                           {1 << 20, "1 MB"},   {4 << 20, "4 MB"},   {10 << 20, "10 MB"}};

double CpuMsSince(std::clock_t start) {
    return 1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

struct Timing {
    double engine = 0, jit = 0, interp = 0;  // CPU ms per extraction (medians)
    double wall[3] = {};                      // the same in wall-clock ms
};

// Runs the three extractions `loops` times each per repetition, interleaved, so that a noisy
// neighbour slows all three alike; returns the median times of one extraction.
Timing TimeExtraction(const std::string& doc, int repetitions) {
    const std::function<void()> work[3] = {
        [&] { volatile std::size_t n = ExtractEngine(doc).urls.size(); (void)n; },
        [&] { volatile std::size_t n = ExtractPcre(doc, true).urls.size(); (void)n; },
        [&] { volatile std::size_t n = ExtractPcre(doc, false).urls.size(); (void)n; },
    };
    // Enough loops that the PCRE2 JIT side runs about 40 ms per repetition.
    Clock::time_point start = Clock::now();
    work[1]();
    const double once = std::max(MsSince(start), 1e-3);
    const int loops = std::max(1, static_cast<int>(40.0 / once));
    std::vector<double> cpu[3], wall[3];
    for (int r = 0; r < repetitions; ++r) {
        for (int w = 0; w < 3; ++w) {
            start = Clock::now();
            const std::clock_t cpuStart = std::clock();
            for (int i = 0; i < loops; ++i) work[w]();
            cpu[w].push_back(CpuMsSince(cpuStart) / loops);
            wall[w].push_back(MsSince(start) / loops);
        }
    }
    return {Median(cpu[0]), Median(cpu[1]), Median(cpu[2]), {Median(wall[0]), Median(wall[1]), Median(wall[2])}};
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(5, std::atoi(argv[1])) : 9;

    // All three must find the same values before their times mean anything.
    std::vector<std::string> docs;
    for (const SizeCase& c : kSizes) {
        docs.push_back(MakeDocument(c.size));
        const Extracted engine = ExtractEngine(docs.back());
        if (!(engine == ExtractPcre(docs.back(), true)) || !(engine == ExtractPcre(docs.back(), false)) ||
            engine.urls.empty()) {
            std::fprintf(stderr, "results differ for the %s document\n", c.label);
            return 1;
        }
    }

    const std::string alternatives = Alternatives(100000);
    std::vector<double> top, nested;
    for (int r = 0; r < repetitions; ++r) {
        top.push_back(CompileMs(alternatives));
        nested.push_back(CompileMs("((" + alternatives + ")y|(" + alternatives + ")+z)"));
    }
    std::printf("regex compile 100000 alternatives: %.1f ms; twice 100000 in nested groups: %.1f ms (goal < 100 ms)\n",
                Median(top), Median(nested));

    {
        TRegExpr re;
        re.SetExpression("(a|aa)*$");
        const Clock::time_point start = Clock::now();
        int code = 0;
        try {
            re.Exec(std::string(35, 'a') + "c");
        } catch (const ERegExpr& e) {
            code = e.ErrorId();
        }
        std::printf("regex backtrack limit: (a|aa)*$ on 35 a's and c ends with error %d after %.0f ms (goal < 1000 ms)\n",
                    code, MsSince(start));
    }

    std::vector<Timing> timings;
    std::printf("\n%8s %10s %7s %32s %32s %32s\n", "", "", "", "CPU ms", "CPU ns per byte", "wall-clock ms");
    std::printf("%8s %10s %7s", "size", "bytes", "urls");
    for (int i = 0; i < 3; ++i) std::printf(" %10s %10s %10s", "engine", "pcre2-jit", "pcre2");
    std::printf("\n");
    for (std::size_t i = 0; i < docs.size(); ++i) {
        timings.push_back(TimeExtraction(docs[i], repetitions));
        const Timing& t = timings.back();
        const double bytes = static_cast<double>(docs[i].size());
        std::printf("%8s %10zu %7zu %10.3f %10.3f %10.3f %10.3f %10.3f %10.3f %10.3f %10.3f %10.3f\n",
                    kSizes[i].label, docs[i].size(), ExtractEngine(docs[i]).urls.size(), t.engine, t.jit, t.interp,
                    t.engine * 1e6 / bytes, t.jit * 1e6 / bytes, t.interp * 1e6 / bytes, t.wall[0], t.wall[1],
                    t.wall[2]);
        std::fflush(stdout);
    }
    std::printf("\n");
    for (std::size_t i = 0; i < docs.size(); ++i) {
        const std::string label = kSizes[i].label;
        if (label != "16 KB" && label != "1 MB" && label != "10 MB") continue;
        const Timing& t = timings[i];
        std::printf("regex extraction %s: engine %.3f ms, pcre2-jit %.3f ms, pcre2 %.3f ms, ratio-jit %.3f, "
                    "ratio-interp %.3f\n",
                    label.c_str(), t.engine, t.jit, t.interp, t.engine / t.jit, t.engine / t.interp);
    }
    return 0;
}
