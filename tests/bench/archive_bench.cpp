// Archive read speed: an archive of 100,000 records read through the
// library (record by record, and in one range) against reading the same
// bytes with one fread. Prints the times and the ratios; the target is the
// reader within 2x of the single fread.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/archive.h"

namespace {

constexpr std::uint32_t kRecords = 100000;
constexpr std::uint32_t kRecordSize = 32;
constexpr int kRounds = 15;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool Build(const std::string& dir) {
    CtArchive ct;
    if (ct_create(&ct, dir.c_str(), "bench.ct") != CT_OK) return false;
    const char header[16] = "bench header";
    if (ct_add_table(&ct, 1, "ROWS", header, sizeof header, kRecordSize) != CT_OK) return false;
    std::vector<unsigned char> records(static_cast<std::size_t>(kRecords) * kRecordSize);
    for (std::size_t i = 0; i < records.size(); ++i) records[i] = static_cast<unsigned char>(i * 7);
    if (ct_append_records(&ct, records.data(), records.size(), kRecords) != CT_OK) return false;
    return ct_close(&ct) == CT_OK;
}

}  // namespace

int main() {
    std::random_device rd;
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vd_archive_bench_" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    std::string base = dir.string();
    if (!Build(base)) {
        std::fprintf(stderr, "cannot build the bench archive in %s\n", base.c_str());
        return 1;
    }
    std::string file = (dir / "bench.ct").string();
    std::uintmax_t file_size = std::filesystem::file_size(file);
    std::vector<unsigned char> all(static_cast<std::size_t>(file_size));
    std::vector<unsigned char> range(static_cast<std::size_t>(kRecords) * kRecordSize);
    unsigned char record[kRecordSize];

    double best_fread = 1e9;
    double best_each = 1e9;
    double best_range = 1e9;
    double best_call = 1e9;
    std::uint64_t check = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        std::FILE* f = std::fopen(file.c_str(), "rb");
        if (f == nullptr) return 1;
        std::size_t got = std::fread(all.data(), 1, all.size(), f);
        std::fclose(f);
        best_fread = std::min(best_fread, Seconds(t0));
        if (got != all.size()) return 1;
        check += all[got - 1];

        t0 = std::chrono::steady_clock::now();
        CtArchive ct;
        if (ct_open(&ct, base.c_str(), "bench.ct") != CT_OK || ct_select(&ct, 0) != CT_OK) return 1;
        for (std::uint32_t i = 0; i < kRecords; ++i) {
            if (ct_read_record(&ct, record, sizeof record, i) != CT_OK) return 1;
            check += record[0];
        }
        ct_close(&ct);
        best_each = std::min(best_each, Seconds(t0));

        // The cost of the call alone: the same few records, always buffered.
        if (ct_open(&ct, base.c_str(), "bench.ct") != CT_OK || ct_select(&ct, 0) != CT_OK) return 1;
        t0 = std::chrono::steady_clock::now();
        for (std::uint32_t i = 0; i < kRecords; ++i) {
            if (ct_read_record(&ct, record, sizeof record, i % 64) != CT_OK) return 1;
            check += record[1];
        }
        best_call = std::min(best_call, Seconds(t0));
        ct_close(&ct);

        t0 = std::chrono::steady_clock::now();
        if (ct_open(&ct, base.c_str(), "bench.ct") != CT_OK || ct_select(&ct, 0) != CT_OK) return 1;
        if (ct_read_records(&ct, range.data(), range.size(), 0, kRecords) != CT_OK) return 1;
        ct_close(&ct);
        best_range = std::min(best_range, Seconds(t0));
        check += range[range.size() - 1];
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);

    std::printf("archive of %u records of %u bytes (%ju bytes), best of %d rounds\n", kRecords, kRecordSize,
                file_size, kRounds);
    std::printf("  one fread of the file      %9.3f ms\n", best_fread * 1e3);
    std::printf("  ct_read_record one by one  %9.3f ms  ratio %.2f (one call a record)\n", best_each * 1e3,
                best_each / best_fread);
    std::printf("  ct_read_records in one go  %9.3f ms  ratio %.2f (target <= 2.00)\n", best_range * 1e3,
                best_range / best_fread);
    std::printf("  ct_read_record, buffered   %9.3f ms  (%.1f ns a call: the floor of one-by-one reading)\n",
                best_call * 1e3, best_call * 1e9 / kRecords);
    std::printf("  (checksum %ju)\n", static_cast<std::uintmax_t>(check));
    return 0;
}
