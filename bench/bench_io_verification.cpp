// The I/O tests against the standard tools, measured in one run:
//  - the file test (generate_random_file + validate_random_file) against dd
//    writing (with a flush) and reading (cache dropped first) the same size in
//    the same directory;
//  - the block-device test against fio random 4 KiB reads at queue depth 1, on
//    the same loop device (direct I/O, over a fully written image in DIR).
//
//   bench_io_verification [DIR] [MIB]      DIR default /var/tmp, MIB default 256
//
// The block-device part needs root, losetup and fio; without them it prints a
// SKIPPED line. Everything it creates in DIR is removed, the loop device detached.

#include <tidewall/tw_storage.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "foundation/czu_file.h"
#include "foundation/tsaf_utils.h"
#include "shell.h"

namespace {

using tidewall::testing::sh;

using clock_type = std::chrono::steady_clock;

template <typename F>
double timed(F f) {
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

void file_test(tw_storage& st, const std::string& dir, unsigned mib) {
    const unsigned count = mib << 18;  // words
    const std::string ours = dir + "/tw-bench-io.bin", dd = dir + "/tw-bench-dd.bin";
    std::vector<double> w_ours, r_ours, w_dd, r_dd, w_serial, r_serial;
    // Rounds alternate which side goes first: the machine may be shared.
    for (int round = 0; round < 5; ++round) {
        unsigned key = 0;
        int wrc = 0, rrc = 0;
        auto run_library = [&] {
            w_ours.push_back(timed([&] { wrc = st.generate_random_file(count, ours, key); }));
            r_ours.push_back(timed([&] { rrc = st.validate_random_file(count, ours, key); }));
            ::unlink(ours.c_str());
        };
        auto run_serial = [&] {
            bool serial_ok = true;
            w_serial.push_back(timed([&] { serial_ok = serial_write(ours, key, count); }));
            r_serial.push_back(timed([&] { serial_ok = serial_check(ours, key, count) && serial_ok; }));
            ::unlink(ours.c_str());
            if (!serial_ok) rrc = -1;
        };
        // Either may go first: what ran before can slow the next.
        auto run_ours = [&] {
            if (round % 4 < 2) {
                run_library();
                run_serial();
            } else {
                run_serial();
                run_library();
            }
        };
        auto run_dd = [&] {
            w_dd.push_back(timed([&] {
                sh("dd if=/dev/zero of=" + dd + " bs=1M count=" + std::to_string(mib) + " conv=fdatasync status=none");
            }));
            sh("dd if=" + dd + " iflag=nocache count=0 status=none");  // drop its cached pages, as validation does
            r_dd.push_back(timed([&] { sh("dd if=" + dd + " of=/dev/null bs=1M status=none"); }));
            ::unlink(dd.c_str());
        };
        if (round % 2) {
            run_dd();
            run_ours();
        } else {
            run_ours();
            run_dd();
        }
        if (wrc < 0 || rrc != 0) {
            std::printf("file test FAILED in %s\n", dir.c_str());
            return;
        }
    }
    double wo = median(w_ours), ro = median(r_ours), wd = median(w_dd), rd = median(r_dd);
    double ws = median(w_serial), rs = median(r_serial);
    std::printf("file test, %u MiB in %s (median of 5)\n", mib, dir.c_str());
    std::printf("  generate_random_file (generate, write, flush): %8.1f MiB/s   dd write conv=fdatasync: %8.1f MiB/s   ratio %.2f\n",
                mib / wo, mib / wd, wd / wo);
    std::printf("  validate_random_file (read, generate, compare): %7.1f MiB/s   dd read, cache dropped:  %8.1f MiB/s   ratio %.2f\n",
                mib / ro, mib / rd, rd / ro);
    std::printf("  write+validate together: %.1f MiB/s, dd write+read %.1f MiB/s: ratio %.2f\n", mib / (wo + ro),
                mib / (wd + rd), (wd + rd) / (wo + ro));
    std::printf("  before (serial chunks, same rounds): write %.1f MiB/s (ratio to dd %.2f), validate %.1f MiB/s "
                "(ratio %.2f), together ratio %.2f\n",
                mib / ws, wd / ws, mib / rs, rd / rs, (wd + rd) / (ws + rs));
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
    const unsigned reads = 10000;
    unsigned long long blocks = 0;
    unsigned blksize = 0;
    st.get_blkdev_capacity(dev, blocks, blksize);
    auto fio = [&](const std::string& bs) {
        std::string out = sh("fio --name=r --filename=" + dev + " --readonly --rw=randread --bs=" + bs +
                             " --iodepth=1 --direct=1 --ioengine=psync --runtime=3 --time_based "
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
    std::vector<double> ours_rate, fio4k_rate, fio_same_rate;
    for (int round = 0; round < 3; ++round) {
        io_test_info info;
        int rc = 0;
        double s = timed([&] { rc = st.perform_blkdev_io_test(dev, reads, info); });
        if (rc != 0) {
            std::printf("  perform_blkdev_io_test FAILED after %u reads\n", info.reads_completed);
            return;
        }
        ours_rate.push_back(reads / s);
        fio4k_rate.push_back(fio("4k"));
        fio_same_rate.push_back(fio(std::to_string(blksize)));
    }
    double ours = median(ours_rate), fio4k = median(fio4k_rate), fio_same = median(fio_same_rate);
    std::printf("block-device test, loop device over a 1 GiB image in %s, direct I/O (median of 3 rounds)\n", dir.c_str());
    std::printf("  perform_blkdev_io_test: %u reads of %u-byte blocks a round, %.0f reads/s\n", reads, blksize, ours);
    std::printf("  fio randread 4 KiB QD1: %.0f IOPS   ratio %.2f\n", fio4k, fio4k > 0 ? ours / fio4k : 0.0);
    std::printf("  fio randread %u B QD1:  %.0f IOPS   ratio %.2f\n", blksize, fio_same,
                fio_same > 0 ? ours / fio_same : 0.0);
}

} // namespace

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
