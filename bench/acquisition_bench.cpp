// acquisition_bench.cpp - image acquisition's hot loops, each beside a
// memcpy of the same bytes in the same run: a model-3 frame stream through
// the decoder (from memory, in 4096-byte reads), the block frame mapping,
// and NFP_CorrectImage in both forms. Prints the decode rate against its
// goal of 1 GB/s and each correction's time as a multiple of the memcpy of
// its 210400 bytes (goal: 3 or less).
#include <benchmark/benchmark.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "KX7300V20.h"
#include "acquisition/capture.h"
#include "acquisition/stream_decoder.h"

namespace {

// A frame stream as a model-3 reader sends it.
std::vector<uint8_t> FrameStream() {
    std::vector<uint8_t> s;
    auto pixel = [&](int v) {
        uint8_t c = static_cast<uint8_t>(255 - v);
        s.push_back(c >> 4);
        s.push_back(c & 15);
    };
    for (int line = 0; line < 302; ++line) {
        for (int i = 0; i < 4; ++i) s.push_back(15);
        s.push_back(0);
        s.push_back(0);
        if (line == 0) {
            s.push_back(12);
            s.push_back(7);
        } else {
            s.push_back(11);
            s.push_back(6);
            for (int shift = 12; shift >= 0; shift -= 4) s.push_back((line >> shift) & 15);
        }
        for (int c = 0; c < 398; ++c) pixel((c * 5 + line * 3) & 255);
        s.insert(s.end(), line == 0 ? 16 : 15, 0);
    }
    return s;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed;
    for (auto &b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return v;
}

void Memcpy(benchmark::State &state, size_t bytes) {
    std::vector<uint8_t> from = Pattern(bytes, 1), to(bytes);
    for (auto _ : state) {
        memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void Decode(benchmark::State &state, kx::StreamVariant variant) {
    const std::vector<uint8_t> stream = FrameStream();
    std::vector<uint8_t> raw(NFP_RAW_SIZE);
    for (auto _ : state) {
        kx::LineStreamDecoder decoder(variant, 301, raw.data());
        kx::LineStreamDecoder::Status status = kx::LineStreamDecoder::kMore;
        for (size_t at = 0; at < stream.size() && status == kx::LineStreamDecoder::kMore;
             at += kx::kStreamReadSize) {
            size_t n = stream.size() - at;
            if (n > kx::kStreamReadSize) n = kx::kStreamReadSize;
            status = decoder.Decode(stream.data() + at, n);
        }
        if (status != kx::LineStreamDecoder::kComplete) {
            state.SkipWithError("the frame did not decode");
            break;
        }
        benchmark::DoNotOptimize(raw.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

void BM_Decode_WholeByte(benchmark::State &state) { Decode(state, kx::StreamVariant::kWholeByte); }
void BM_Decode_LowNibble(benchmark::State &state) { Decode(state, kx::StreamVariant::kLowNibble); }
void BM_Memcpy_Stream(benchmark::State &state) { Memcpy(state, FrameStream().size()); }

void BM_BlockMapping(benchmark::State &state) {
    const std::vector<uint8_t> block = Pattern(kx::kBlockFrameSize, 2);
    std::vector<uint8_t> raw(NFP_RAW_SIZE);
    for (auto _ : state) {
        kx::MapBlockRows(block.data(), 302, raw.data());
        benchmark::DoNotOptimize(raw.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kx::kBlockFrameSize));
}
void BM_Memcpy_Block(benchmark::State &state) { Memcpy(state, kx::kBlockFrameSize); }

// The exported call, heap block and all.
void Correct(benchmark::State &state, int model) {
    const std::vector<uint8_t> raw = Pattern(NFP_RAW_SIZE, 3);
    std::vector<uint8_t> out(NFP_CORRECTED_SIZE);
    kx::SetCurrentModel(model);
    for (auto _ : state) {
        if (NFP_CorrectImage(raw.data(), out.data()) != NFP_OK) {
            state.SkipWithError("no working memory");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * (NFP_RAW_SIZE + NFP_CORRECTED_SIZE));
}
void BM_Correct_Standard(benchmark::State &state) { Correct(state, 3); }
void BM_Correct_Model5(benchmark::State &state) { Correct(state, 5); }
void BM_Memcpy_Correction(benchmark::State &state) { Memcpy(state, NFP_RAW_SIZE + NFP_CORRECTED_SIZE); }

BENCHMARK(BM_Decode_WholeByte);
BENCHMARK(BM_Decode_LowNibble);
BENCHMARK(BM_Memcpy_Stream);
BENCHMARK(BM_BlockMapping);
BENCHMARK(BM_Memcpy_Block);
BENCHMARK(BM_Correct_Standard);
BENCHMARK(BM_Correct_Model5);
BENCHMARK(BM_Memcpy_Correction);

// Console output as usual, plus the rate of every run kept by name.
class RateReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal, so that logs stay plain.
    RateReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        // With repetitions the median stands for the benchmark.
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end()) rates[run.run_name.function_name] = rate->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto rate = [&](const char *name) {
        auto it = reporter.rates.find(name);
        return it == reporter.rates.end() ? 0.0 : it->second;
    };
    int missing = 0;
    for (const char *decoder : {"BM_Decode_WholeByte", "BM_Decode_LowNibble"}) {
        if (rate(decoder) <= 0 || rate("BM_Memcpy_Stream") <= 0) {
            ++missing;
            continue;
        }
        printf("%s: frame stream at %.2f GB/s (goal 1.00), memcpy of the stream %.2f GB/s\n",
               decoder, rate(decoder) / 1e9, rate("BM_Memcpy_Stream") / 1e9);
    }
    if (rate("BM_BlockMapping") > 0 && rate("BM_Memcpy_Block") > 0)
        printf("BM_BlockMapping: %.1f us a frame, %.2f x the memcpy of its 253952 bytes\n",
               kx::kBlockFrameSize / rate("BM_BlockMapping") * 1e6,
               rate("BM_Memcpy_Block") / rate("BM_BlockMapping"));
    else
        ++missing;
    for (const char *form : {"BM_Correct_Standard", "BM_Correct_Model5"}) {
        if (rate(form) <= 0 || rate("BM_Memcpy_Correction") <= 0) {
            ++missing;
            continue;
        }
        printf("%s: %.1f us a frame, %.2f x the memcpy of 210400 bytes (goal 3.00 or less)\n", form,
               (NFP_RAW_SIZE + NFP_CORRECTED_SIZE) / rate(form) * 1e6,
               rate("BM_Memcpy_Correction") / rate(form));
    }
    if (missing) fprintf(stderr, "%d comparison(s) missing: a benchmark did not run\n", missing);
    return 0;
}
