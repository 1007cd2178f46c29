// cipher_bench.cpp - DES-CBC over one Corrected image (89600 bytes), ours
// against OpenSSL's EVP DES-CBC in the same run. Prints both rates in MB/s
// (10^6 bytes per second, as `openssl speed` counts) and their ratio.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <stdint.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "acquisition/cipher.h"

namespace {

const size_t kImageBytes = 89600;
const uint8_t kKey[8] = {0x3b, 0x38, 0x98, 0x37, 0x15, 0x20, 0xf7, 0x5e};
const uint8_t kIv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};

std::vector<uint8_t> Image() {
    std::vector<uint8_t> image(kImageBytes);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 131 + (i >> 9));
    return image;
}

// The whole call sequence of a protected capture, key setup included.
void BM_DesCbc_Ours(benchmark::State &state) {
    const std::vector<uint8_t> image = Image();
    std::vector<uint8_t> out(kImageBytes);
    for (auto _ : state) {
        kx::CipherContext ctx;
        uint32_t length = 0, finalLength = 0;
        kx::CipherInit(kx::CIPHER_CBC, kx::CIPHER_NO_FILL, kIv, &ctx);
        if (kx::CipherSetKey(kKey, 8, &ctx) != 0 ||
            kx::CipherReset(&ctx) != 0 ||
            kx::CipherUpdate(&ctx, image.data(), kImageBytes, out.data(),
                             &length) != 0 ||
            kx::CipherFinal(&ctx, out.data() + length, &finalLength) != 0 ||
            length + finalLength != kImageBytes) {
            state.SkipWithError("cipher refused the image");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kImageBytes));
}

void BM_DesCbc_OpenSsl(benchmark::State &state) {
    const std::vector<uint8_t> image = Image();
    std::vector<uint8_t> out(kImageBytes + 8);
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (cipher == nullptr || ctx == nullptr) {
        state.SkipWithError("OpenSSL has no DES-CBC (legacy provider missing)");
        EVP_CIPHER_CTX_free(ctx);
        EVP_CIPHER_free(cipher);
        return;
    }
    for (auto _ : state) {
        int length = 0, finalLength = 0;
        if (EVP_EncryptInit_ex2(ctx, cipher, kKey, kIv, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_padding(ctx, 0) != 1 ||
            EVP_EncryptUpdate(ctx, out.data(), &length, image.data(),
                              int(kImageBytes)) != 1 ||
            EVP_EncryptFinal_ex(ctx, out.data() + length, &finalLength) != 1 ||
            size_t(length + finalLength) != kImageBytes) {
            state.SkipWithError("OpenSSL refused the image");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kImageBytes));
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
}

BENCHMARK(BM_DesCbc_Ours);
BENCHMARK(BM_DesCbc_OpenSsl);

// Console output as usual, plus the rate of every run kept by name.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            const auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end())
                rates[run.benchmark_name()] = rate->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char **argv) {
    if (OSSL_PROVIDER_load(nullptr, "legacy") == nullptr ||
        OSSL_PROVIDER_load(nullptr, "default") == nullptr) {
        fprintf(stderr, "cannot load OpenSSL's legacy and default providers\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto ours = reporter.rates.find("BM_DesCbc_Ours");
    const auto openssl = reporter.rates.find("BM_DesCbc_OpenSsl");
    if (ours == reporter.rates.end() || openssl == reporter.rates.end() ||
        openssl->second <= 0) {
        fprintf(stderr,
                "DES-CBC 89600 bytes: a rate is missing, no comparison\n");
        return 1;
    }
    printf(
        "DES-CBC 89600 bytes: ours %.1f MB/s, OpenSSL %.1f MB/s, ours/OpenSSL "
        "%.2f\n",
        ours->second / 1e6, openssl->second / 1e6,
        ours->second / openssl->second);
    return 0;
}
