#include "engine/transfer/byte_order.h"

#include <arpa/inet.h>
#include <sys/sysinfo.h>

#include <cstdio>
#include <cstring>

#include "engine/transfer/index_layout.h"

namespace vorlane::engine {

void reverse_words(uint32_t* words, size_t n) {
  for (size_t i = 0; i < n; ++i) words[i] = reverse_word(words[i]);
}

void reverse_words64(uint64_t* words, size_t n) {
  for (size_t i = 0; i < n; ++i) words[i] = reverse_word64(words[i]);
}

void convert_dir_records(uint32_t* words, size_t n, bool with_header) {
  for (size_t r = with_header ? 1 : 0; r < n; ++r) {
    uint32_t& packed = words[r * 4 + 3];
    packed = net_size_part(packed);
  }
  reverse_words(words, n * 4);
}

void convert_full_term_record(uint32_t* words, uint32_t count) {
  const uint32_t w2 = net_docf_word(words), w3 = net_count_word(words);
  words[2] = w2;
  words[3] = w3;
  reverse_words(words, size_t{count} + 5);
}

int32_t convert_to_net_format(int32_t number) {
  return static_cast<int32_t>(htonl(static_cast<uint32_t>(number)));
}

int32_t convert_to_host_format(int32_t number) {
  return static_cast<int32_t>(ntohl(static_cast<uint32_t>(number)));
}

int64_t physavail() {
  // MemAvailable counts what can be had without swapping (free memory plus
  // reclaimable caches); older kernels lack it, then free memory is used.
  if (FILE* f = fopen("/proc/meminfo", "re")) {
    char line[256];
    long long kb = -1;
    while (fgets(line, sizeof line, f))
      if (sscanf(line, "MemAvailable: %lld kB", &kb) == 1) break;
    fclose(f);
    if (kb >= 0) return static_cast<int64_t>(kb) * 1024;
  }
  struct sysinfo info;
  if (sysinfo(&info) != 0) return 0;
  return static_cast<int64_t>(info.freeram) * info.mem_unit;
}

int64_t physsize() {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return 0;
  return static_cast<int64_t>(info.totalram) * info.mem_unit;
}

}  // namespace vorlane::engine
