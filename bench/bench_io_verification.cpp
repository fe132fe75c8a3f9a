// The I/O tests against the standard tools, measured in one run:
//  - the file test (generate_random_file + validate_random_file) against dd
//    writing the same bytes (with a flush) in the same directory, and dd
//    reading the checked file (cache dropped first);
//  - the file test also against fio's own write-and-verify (--verify=crc32c,
//    the same size in the same directory, its file's cache dropped before its
//    verifying read as before ours): what an operator would reach for instead;
//  - the block-device test against fio random reads at queue depth 1 (4 KiB
//    and the device's block size), on the same loop device (direct I/O, over a
//    fully written image in DIR).
// Ratios are taken within each round and their median printed.
//
//   bench_io_verification [DIR] [MIB]      DIR default /var/tmp, MIB default 256
//   TW_BENCH_ROUNDS=1 prints every round's figures.
//
// The block-device part needs root, losetup and fio; without them it prints a
// SKIPPED line. Everything it creates in DIR is removed, the loop device detached.

#include <tidewall/tw_storage.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "foundation/compat/czu_file.h"
#include "foundation/compat/tsaf_utils.h"
#include "shell.h"

namespace {

using tidewall::testing::sh;

using clock_type = std::chrono::steady_clock;

template <typename F> double timed(F f) {
    auto t0 = clock_type::now();
    f();
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The checks as they were before generating and I/O overlapped: generate, then
// write; read, then generate and compare; one 1 MiB chunk at a time. Kept here
// only to measure the difference in the same run.
const unsigned kSerialChunkWords = 1u << 18;

bool serial_write(const std::string& path, unsigned key, unsigned count) {
    CZuFile f;
    if (f.Open(path, O_RDWR | O_CREAT, 0644).IsFailure()) return false;
    std::vector<unsigned> chunk(std::min(count, kSerialChunkWords));
    bool ok = true;
    for (std::uint64_t at = 0; ok && at < count;) {
        unsigned n = static_cast<unsigned>(std::min<std::uint64_t>(kSerialChunkWords, count - at));
        tsaf_utils::generate_prg_data_at(key, at, chunk.data(), n);
        unsigned done = 0;
        ok = f.Write(chunk.data(), n * 4, &done).IsSuccess() && done == n * 4;
        at += n;
    }
    ok = ok && f.Sync().IsSuccess();
    return f.Close().IsSuccess() && ok;
}

bool serial_check(const std::string& path, unsigned key, unsigned count) {
    CZuFile f;
    if (f.Open(path, O_RDONLY, 0644).IsFailure()) return false;
    f.DropCache();
    std::vector<unsigned> expected(std::min(count, kSerialChunkWords)), actual(expected.size());
    bool ok = true;
    for (std::uint64_t at = 0; ok && at < count;) {
        unsigned n = static_cast<unsigned>(std::min<std::uint64_t>(kSerialChunkWords, count - at));
        unsigned done = 0;
        ok = f.Read(actual.data(), n * 4, &done).IsSuccess() && done == n * 4;
        tsaf_utils::generate_prg_data_at(key, at, expected.data(), n);
        ok = ok && std::memcmp(expected.data(), actual.data(), static_cast<size_t>(n) * 4) == 0;
        at += n;
    }
    return f.Close().IsSuccess() && ok;
}

// One round's times, in seconds.
struct file_round {
    double w_ours, r_ours, w_serial, r_serial, w_dd, r_dd, w_zero;
    double w_fio, r_fio;  // 0 without fio
};

double ratio(double reference_s, double ours_s) { return ours_s > 0 ? reference_s / ours_s : 0; }

// Median over the rounds of a ratio taken within each round: the rounds run
// minutes apart on a machine whose storage speed drifts, so only figures
// measured side by side compare.
template <typename F> double median_ratio(const std::vector<file_round>& rounds, F f) {
    std::vector<double> v;
    for (const auto& r : rounds) v.push_back(f(r));
    return median(v);
}

void file_test(tw_storage& st, const std::string& dir, unsigned mib) {
    const unsigned count = mib << 18;  // words
    const std::string ours = dir + "/tw-bench-io.bin", dd = dir + "/tw-bench-dd.bin";
    // dd's source: the same pseudo-random bytes, from memory. Zeros are no
    // fair reference: virtual disks and thin storage may keep them as holes.
    const std::string source = "/dev/shm/tw-bench-src.bin";
    bool have_source = false;
    const bool have_fio = sh("command -v fio >/dev/null && echo yes") == "yes";
    const std::string fio_file = dir + "/tw-bench-fio.bin";
    const std::string fio_job = "fio --name=twverify --filename=" + fio_file +
                                " --rw=write --bs=1M --size=" + std::to_string(mib) +
                                "m --ioengine=psync --verify=crc32c --output-format=terse";
    bool fio_ok = true;
    std::vector<file_round> rounds;
    for (int round = 0; round < 7; ++round) {
        file_round r{};
        unsigned key = 0;
        int wrc = 0, rrc = 0;
        bool serial_ok = true;
        // Writes: each side its own file, the same bytes; which goes first
        // alternates, as what ran before can slow the next.
        auto write_ours = [&] {
            r.w_ours = timed([&] { wrc = st.generate_random_file(count, ours, key); });
            if (!have_source && wrc >= 0) have_source = sh("cp " + ours + " " + source + " && echo yes") == "yes";
        };
        auto write_dd = [&] {
            r.w_dd = timed([&] {
                sh("dd if=" + (have_source ? source : std::string("/dev/zero")) + " of=" + dd +
                   " bs=1M count=" + std::to_string(mib) + " conv=fdatasync status=none");
            });
        };
        if (round % 2 && have_source) {
            write_dd();
            write_ours();
        } else {
            write_ours();
            write_dd();
        }
        ::unlink(dd.c_str());
        r.w_zero = timed([&] {
            sh("dd if=/dev/zero of=" + dd + " bs=1M count=" + std::to_string(mib) + " conv=fdatasync status=none");
        });
        ::unlink(dd.c_str());
        r.w_serial = timed([&] { serial_ok = serial_write(dd, key, count); });
        ::unlink(dd.c_str());

        // Reads: all of the same file, each with its cached pages dropped
        // first. The first read of a file just written swings between 0.7 and
        // 5 GB/s on a virtual disk, whoever makes it; one untimed read first
        // lets the three meet the device at its steady speed, in an order that
        // turns with the rounds.
        const std::string drop = "dd if=" + ours + " iflag=nocache count=0 status=none";
        sh(drop + " && cat " + ours + " >/dev/null");
        std::function<void()> reads[] = {
            [&] { r.r_ours = timed([&] { rrc = st.validate_random_file(count, ours, key); }); },
            [&] {
                sh(drop);
                r.r_dd = timed([&] { sh("dd if=" + ours + " of=/dev/null bs=1M status=none"); });
            },
            [&] { r.r_serial = timed([&] { serial_ok = serial_check(ours, key, count) && serial_ok; }); },
        };
        for (int k = 0; k < 3; ++k) reads[(round + k) % 3]();
        ::unlink(ours.c_str());
        if (have_fio) {
            // fio writes its blocks with crc32c headers (flushed at the end),
            // then, its file's cache dropped, reads them back and checks them.
            r.w_fio = timed(
                [&] { fio_ok = sh(fio_job + " --do_verify=0 --end_fsync=1 >/dev/null 2>&1 && echo ok") == "ok"; });
            sh("dd if=" + fio_file + " iflag=nocache count=0 status=none");
            r.r_fio =
                timed([&] { fio_ok = fio_ok && sh(fio_job + " --verify_only >/dev/null 2>&1 && echo ok") == "ok"; });
            ::unlink(fio_file.c_str());
        }
        if (wrc < 0 || rrc != 0 || !serial_ok) {
            std::printf("file test FAILED in %s\n", dir.c_str());
            ::unlink(source.c_str());
            return;
        }
        rounds.push_back(r);
        if (std::getenv("TW_BENCH_ROUNDS"))
            std::printf("  round %d, MiB/s: write %.0f dd %.0f zeros %.0f serial %.0f; read %.0f dd %.0f serial %.0f\n",
                        round, mib / r.w_ours, mib / r.w_dd, mib / r.w_zero, mib / r.w_serial, mib / r.r_ours,
                        mib / r.r_dd, mib / r.r_serial);
    }
    ::unlink(source.c_str());
    auto speed = [&](double file_round::*m) {
        std::vector<double> v;
        for (const auto& r : rounds) v.push_back(mib / (r.*m));
        return median(v);
    };
    const char* ref = have_source ? "the same bytes from memory" : "zeros";
    std::printf("file test, %u MiB in %s (medians of 7 rounds; ratios taken within each round)\n", mib, dir.c_str());
    std::printf(
        "  generate_random_file (generate, write, flush): %8.1f MiB/s   dd write conv=fdatasync of %s: %8.1f MiB/s   "
        "ratio %.2f\n",
        speed(&file_round::w_ours), ref, speed(&file_round::w_dd),
        median_ratio(rounds, [](const file_round& r) { return ratio(r.w_dd, r.w_ours); }));
    std::printf(
        "  validate_random_file (read, generate, compare): %7.1f MiB/s   dd read, cache dropped: %8.1f MiB/s   ratio "
        "%.2f\n",
        speed(&file_round::r_ours), speed(&file_round::r_dd),
        median_ratio(rounds, [](const file_round& r) { return ratio(r.r_dd, r.r_ours); }));
    std::printf("  write+validate together: ratio %.2f\n",
                median_ratio(rounds, [](const file_round& r) { return ratio(r.w_dd + r.r_dd, r.w_ours + r.r_ours); }));
    if (have_fio && fio_ok)
        std::printf(
            "  fio write+verify --verify=crc32c, cache dropped before its reads: write %.1f MiB/s, verify "
            "%.1f MiB/s; ratio of ours to it: write %.2f, verify %.2f, together %.2f\n",
            speed(&file_round::w_fio), speed(&file_round::r_fio),
            median_ratio(rounds, [](const file_round& r) { return ratio(r.w_fio, r.w_ours); }),
            median_ratio(rounds, [](const file_round& r) { return ratio(r.r_fio, r.r_ours); }),
            median_ratio(rounds, [](const file_round& r) { return ratio(r.w_fio + r.r_fio, r.w_ours + r.r_ours); }));
    else
        std::printf("  fio write+verify SKIPPED: %s\n", have_fio ? "fio failed" : "fio missing");
    std::printf("  dd write of zeros: %.1f MiB/s, generate_random_file's ratio to it %.2f\n",
                speed(&file_round::w_zero),
                median_ratio(rounds, [](const file_round& r) { return ratio(r.w_zero, r.w_ours); }));
    std::printf(
        "  before (serial chunks, same rounds): write %.1f MiB/s (ratio to dd %.2f), validate %.1f MiB/s "
        "(ratio %.2f), together ratio %.2f\n",
        speed(&file_round::w_serial),
        median_ratio(rounds, [](const file_round& r) { return ratio(r.w_dd, r.w_serial); }),
        speed(&file_round::r_serial),
        median_ratio(rounds, [](const file_round& r) { return ratio(r.r_dd, r.r_serial); }),
        median_ratio(rounds, [](const file_round& r) { return ratio(r.w_dd + r.r_dd, r.w_serial + r.r_serial); }));
    // The checks stream through a fixed ring of chunks: the peak stays flat
    // whatever MIB is.
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("  peak resident memory of this process: %.1f MiB\n", usage.ru_maxrss / 1024.0);
}

void blkdev_test(tw_storage& st, const std::string& dir) {
    if (::geteuid() != 0 || sh("command -v fio >/dev/null && command -v losetup >/dev/null && echo yes") != "yes") {
        std::printf("block-device test SKIPPED: needs root, losetup and fio\n");
        return;
    }
    const std::string image = dir + "/tw-bench-blk.img";
    // Written in full: holes would read as zeros without touching the disk.
    sh("dd if=/dev/zero of=" + image + " bs=1M count=1024 conv=fdatasync status=none");
    std::string dev = sh("losetup -f --show --direct-io=on " + image);
    struct cleanup {
        std::string dev, image;
        ~cleanup() {
            if (!dev.empty()) sh("losetup -d " + dev);
            ::unlink(image.c_str());
        }
    } guard{dev, image};
    if (dev.rfind("/dev/loop", 0) != 0) {
        std::printf("block-device test SKIPPED: no loop device\n");
        return;
    }
    const unsigned reads = 40000;
    unsigned long long blocks = 0;
    unsigned blksize = 0;
    st.get_blkdev_capacity(dev, blocks, blksize);
    auto fio = [&](const std::string& bs) {
        std::string out = sh("fio --name=r --filename=" + dev + " --readonly --rw=randread --bs=" + bs +
                             " --iodepth=1 --direct=1 --ioengine=psync --runtime=2 --time_based "
                             "--output-format=terse --terse-version=3 2>/dev/null");
        // Terse v3: field 8 is the read IOPS.
        std::vector<std::string> f;
        size_t start = 0;
        while (start <= out.size()) {
            size_t semi = out.find(';', start);
            f.push_back(out.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
            if (semi == std::string::npos) break;
            start = semi + 1;
        }
        return f.size() > 7 ? std::atof(f[7].c_str()) : 0.0;
    };
    // fio runs just before or just after each round of ours (alternating), and
    // each round's ratio is taken against its neighbour: the device's speed
    // drifts between rounds.
    std::vector<double> ours_rate, fio4k_rate, fio_same_rate, same_ratio, ratio4k;
    for (int round = 0; round < 5; ++round) {
        io_test_info info;
        int rc = 0;
        double fio_same = round % 2 ? fio(std::to_string(blksize)) : 0;
        double s = timed([&] { rc = st.perform_blkdev_io_test(dev, reads, info); });
        if (rc != 0) {
            std::printf("  perform_blkdev_io_test FAILED after %u reads\n", info.reads_completed);
            return;
        }
        if (!(round % 2)) fio_same = fio(std::to_string(blksize));
        double fio4k = fio("4k");
        ours_rate.push_back(reads / s);
        fio_same_rate.push_back(fio_same);
        fio4k_rate.push_back(fio4k);
        same_ratio.push_back(fio_same > 0 ? reads / s / fio_same : 0.0);
        ratio4k.push_back(fio4k > 0 ? reads / s / fio4k : 0.0);
    }
    std::printf("block-device test, loop device over a 1 GiB image in %s, direct I/O (medians of 5 rounds)\n",
                dir.c_str());
    std::printf("  perform_blkdev_io_test: %u reads of %u-byte blocks a round, %.0f reads/s\n", reads, blksize,
                median(ours_rate));
    std::printf("  fio randread 4 KiB QD1: %.0f IOPS   ratio %.2f\n", median(fio4k_rate), median(ratio4k));
    std::printf("  fio randread %u B QD1:  %.0f IOPS   ratio %.2f\n", blksize, median(fio_same_rate),
                median(same_ratio));
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : "/var/tmp";
    unsigned mib = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 256;
    if (mib == 0 || mib > 16383) {
        std::fprintf(stderr, "usage: bench_io_verification [DIR] [MIB 1..16383]\n");
        return 2;
    }
    tw_storage st;
    file_test(st, dir, mib);
    blkdev_test(st, dir);
    return 0;
}
