// Puts and gets per second for N small pairs (default 1,000,000) in a hash
// database file, beside Python's dbm.gnu and sqlite3 (a key/value table,
// one transaction) on the same workload in the same run.
//
//   build/bin/hashdb_bench [N]
//
// Keys are "k" and a 9-digit number, values 20 bytes; the puts go in one
// order, the gets in another; each store is closed (and synced) after its
// puts and reopened for the gets.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
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
  h->close(h);
  auto t2 = Clock::now();
  std::filesystem::remove(path);
  return {n / std::chrono::duration<double>(t1 - t0).count(), n / std::chrono::duration<double>(t2 - t1).count()};
}

// The same workload in Python; prints "name puts/s gets/s" per store.
const char* kPythonScript = R"PY(
import dbm.gnu, os, random, sqlite3, sys, time
n, d = int(sys.argv[1]), sys.argv[2]
key = lambda i: b"k%09d" % i
value = lambda i: b"value-%014d" % ((i * 2654435761) % 2**32)
order = list(range(n)); rng = random.Random(1); rng.shuffle(order)
get_order = list(order); rng.shuffle(get_order)
p = os.path.join(d, "bench.gdbm")
t0 = time.monotonic()
db = dbm.gnu.open(p, "nf")
for i in order: db[key(i)] = value(i)
db.sync(); db.close()
t1 = time.monotonic()
db = dbm.gnu.open(p, "r")
for i in get_order: assert len(db[key(i)]) == 20
db.close()
t2 = time.monotonic(); os.remove(p)
print("dbm.gnu %.0f %.0f" % (n / (t1 - t0), n / (t2 - t1)))
p = os.path.join(d, "bench.sqlite")
t0 = time.monotonic()
db = sqlite3.connect(p)
db.execute("create table kv (k blob primary key, v blob) without rowid")
with db:
    for i in order: db.execute("insert or replace into kv values (?, ?)", (key(i), value(i)))
db.close()
t1 = time.monotonic()
db = sqlite3.connect(p)
for i in get_order: assert len(db.execute("select v from kv where k = ?", (key(i),)).fetchone()[0]) == 20
db.close()
t2 = time.monotonic(); os.remove(p)
print("sqlite3 %.0f %.0f" % (n / (t1 - t0), n / (t2 - t1)))
)PY";

}  // namespace

int main(int argc, char** argv) {
  uint32_t n = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  std::string dir = std::filesystem::temp_directory_path() / ("hashdb-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::printf("%u pairs (10-byte keys, 20-byte values), 4096-byte pages\n", n);
  std::printf("%-28s %12s %12s\n", "store", "puts/s", "gets/s");
  Rates small = run_ours(dir + "/bench.db", n, 0);
  std::printf("%-28s %12.0f %12.0f\n", "hashdb (64 KB cache)", small.puts, small.gets);
  Rates large = run_ours(dir + "/bench.db", n, 16u << 20);
  std::printf("%-28s %12.0f %12.0f\n", "hashdb (16 MB cache)", large.puts, large.gets);
  std::fflush(stdout);

  std::string script = dir + "/bench.py";
  if (FILE* f = std::fopen(script.c_str(), "w")) {
    std::fputs(kPythonScript, f);
    std::fclose(f);
  }
  std::string command = "/usr/bin/python3 " + script + " " + std::to_string(n) + " " + dir;
  FILE* p = popen(command.c_str(), "r");
  char line[256];
  while (p && std::fgets(line, sizeof line, p)) {
    char name[64];
    double puts, gets;
    if (std::sscanf(line, "%63s %lf %lf", name, &puts, &gets) != 3) continue;
    std::printf("%-28s %12.0f %12.0f   hashdb/%s: puts x%.2f (x%.2f), gets x%.2f (x%.2f)\n", name, puts, gets, name,
                small.puts / puts, large.puts / puts, small.gets / gets, large.gets / gets);
  }
  int status = p ? pclose(p) : -1;
  std::filesystem::remove_all(dir);
  if (status != 0) std::fprintf(stderr, "the Python comparison failed (python3-gdbm installed?)\n");
  return status == 0 ? 0 : 1;
}
