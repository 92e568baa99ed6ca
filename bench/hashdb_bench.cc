// Puts and gets per second for N small pairs (default 1,000,000) through the
// C++ calls of the hash database, with a 64 KB and a 16 MB page cache, with
// the file's size, its allocated size and the pool's chain steps per lookup.
// The comparison with dbm.gnu, LMDB and sqlite3 is made where a user pays
// it, at the script level: bench/hashdb_bench.py.
//
//   build/bin/hashdb_bench [N]
//
// Keys are "k" and a 9-digit number, values 20 bytes; the puts go in one
// order, the gets in another; the file is closed (and synced) after its
// puts and reopened for the gets.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "hashdb/hdb_table.h"

namespace {

using Clock = std::chrono::steady_clock;
using vorlane::hashdb::hdb_bytes;
using vorlane::hashdb::hdb_handle;
using vorlane::hashdb::hdb_open;
using vorlane::hashdb::hdb_params;

std::string key_of(uint32_t i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "k%09u", i);
  return buf;
}
std::string value_of(uint32_t i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "value-%014u", i * 2654435761u);
  return buf;
}

struct Rates {
  double puts, gets;
  double steps;  // chain steps per pool lookup during the gets
  uint64_t size, allocated;
};

Rates run_ours(const std::string& path, uint32_t n, unsigned cache_size) {
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; ++i) order[i] = i;
  std::mt19937 rng(1);
  std::shuffle(order.begin(), order.end(), rng);
  hdb_params params{};
  params.bucket_size = 4096;
  params.cache_size = cache_size;
  std::filesystem::remove(path);
  auto t0 = Clock::now();
  hdb_handle* h = hdb_open(path.c_str(), 2 | 0x100, 0644, 1, &params);
  if (!h) {
    std::fprintf(stderr, "open failed: errno %d\n", errno);
    std::exit(1);
  }
  for (uint32_t i : order) {
    std::string k = key_of(i), v = value_of(i);
    hdb_bytes kb{k.data(), k.size()}, vb{v.data(), v.size()};
    if (h->put(h, &kb, &vb, 0) != 0) {
      std::fprintf(stderr, "put failed: errno %d\n", errno);
      std::exit(1);
    }
  }
  h->close(h);
  auto t1 = Clock::now();
  std::shuffle(order.begin(), order.end(), rng);
  h = hdb_open(path.c_str(), 0, 0, 1, &params);
  for (uint32_t i : order) {
    std::string k = key_of(i);
    hdb_bytes kb{k.data(), k.size()}, data{};
    if (h->get(h, &kb, &data, 0) != 0 || data.size != 20) {
      std::fprintf(stderr, "get failed: errno %d\n", errno);
      std::exit(1);
    }
  }
  const vorlane::hashdb::hdb_pool* pool = h->internal->pool;
  double steps = pool->lookups ? static_cast<double>(pool->lookup_steps) / static_cast<double>(pool->lookups) : 0;
  h->close(h);
  auto t2 = Clock::now();
  struct stat st {};
  ::stat(path.c_str(), &st);
  std::filesystem::remove(path);
  return {n / std::chrono::duration<double>(t1 - t0).count(), n / std::chrono::duration<double>(t2 - t1).count(),
          steps, static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_blocks) * 512};
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  std::string dir = std::filesystem::temp_directory_path() / ("hashdb-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::printf("%u pairs (10-byte keys, 20-byte values), 4096-byte pages, C++ calls\n", n);
  std::printf("%-22s %12s %12s %12s %10s %10s\n", "cache", "puts/s", "gets/s", "steps/get", "size MB", "alloc MB");
  for (unsigned cache : {64u << 10, 16u << 20}) {
    Rates r = run_ours(dir + "/bench.db", n, cache);
    std::printf("%-22s %12.0f %12.0f %12.2f %10.1f %10.1f\n", cache == (64u << 10) ? "64 KB" : "16 MB", r.puts,
                r.gets, r.steps, r.size / 1e6, r.allocated / 1e6);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
