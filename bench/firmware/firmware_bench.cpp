// In-process throughput of the firmware file code: the hex reader on a 512 KiB image in 16-byte
// records, the image reader, and both checksums.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "firmware/Crc.h"
#include "firmware/FirmwareImage.h"
#include "firmware/HexFile.h"
#include "firmware/ImageWriter.h"

namespace {

using namespace vindelor::firmware;

std::vector<std::uint8_t> Image(std::size_t size) {
    std::vector<std::uint8_t> v(size);
    std::uint32_t x = 162;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return v;
}

// Intel HEX as the usual tools write it: 16-byte records, a type-04 record every 64 KiB.
std::string HexOf(const std::vector<std::uint8_t>& image) {
    std::string text;
    char line[64];
    for (std::size_t at = 0; at < image.size(); at += 16) {
        if (at % 0x10000 == 0 && at > 0) {
            const unsigned hi = static_cast<unsigned>(at >> 16);
            const unsigned sum = (0x100u - ((2u + 4u + (hi >> 8) + (hi & 0xFFu)) & 0xFFu)) & 0xFFu;
            std::snprintf(line, sizeof line, ":02000004%04X%02X\n", hi, sum);
            text += line;
        }
        unsigned sum = 16u + static_cast<unsigned>(((at >> 8) & 0xFFu) + (at & 0xFFu));
        std::snprintf(line, sizeof line, ":10%04X00", static_cast<unsigned>(at & 0xFFFFu));
        text += line;
        for (std::size_t k = 0; k < 16; ++k) {
            std::snprintf(line, sizeof line, "%02X", image[at + k]);
            text += line;
            sum += image[at + k];
        }
        std::snprintf(line, sizeof line, "%02X\n", (0x100u - (sum & 0xFFu)) & 0xFFu);
        text += line;
    }
    return text + ":00000001FF\n";
}

void BM_LoadHexText512KiB(benchmark::State& state) {
    const auto image = Image(512 * 1024);
    const std::string text = HexOf(image);
    std::vector<std::uint8_t> buffer(image.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(LoadHexText(text, buffer, 0));
        benchmark::ClobberMemory();
    }
    if (buffer != image) state.SkipWithError("loaded bytes differ");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LoadHexText512KiB)->Unit(benchmark::kMillisecond);

void BM_ReadImageData(benchmark::State& state) {
    const auto payload = Image(256);
    ImageWriter w;
    w.AddHeader({.LoaderMode = 1, .HardwareCode = 4, .HeaderWord = 0, .Description = "bench"});
    for (std::uint32_t k = 0; k < 2048; ++k) w.AddFlash(k * 256, payload);  // 512 KiB of flash
    for (auto _ : state) {
        FirmwareImage image;
        image.ReadImageData(w.Bytes());
        benchmark::DoNotOptimize(image.FlashRecordCount);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.Bytes().size()));
}
BENCHMARK(BM_ReadImageData)->Unit(benchmark::kMillisecond);

void BM_Crc16(benchmark::State& state) {
    const auto data = Image(64 * 1024);
    for (auto _ : state) benchmark::DoNotOptimize(Crc16(data));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc16);

void BM_Crc32(benchmark::State& state) {
    const auto data = Image(64 * 1024);
    for (auto _ : state) benchmark::DoNotOptimize(Crc32(data));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc32);

}  // namespace

BENCHMARK_MAIN();
