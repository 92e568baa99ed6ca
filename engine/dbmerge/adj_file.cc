#include "engine/dbmerge/adj_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "store/db_files.h"

namespace vorlane::engine {

namespace {

std::string with_errno(const char* what) {
  char buf[256];
  return std::string(what) + ": " + strerror_r(errno, buf, sizeof buf);
}

}  // namespace

std::string write_adj_file(const std::string& path, const int32_t* map, uint32_t n) {
  FILE* f = fopen(path.c_str(), "w+b");
  if (!f) return with_errno("adj open");
  bool ok = fwrite(&n, 4, 1, f) == 1;
  uint32_t run = 0;
  for (uint32_t i = 0; ok && i < n; ++i) {
    if (map[i] == kDroppedDoc) {
      ok = put_varint(f, run) == 1;
      run = 0;
    } else {
      ++run;
    }
  }
  ok = ok && put_varint(f, run) == 1 && fflush(f) == 0;
  std::string error = ok ? std::string() : with_errno("adj fwrite");
  if (fclose(f) != 0 && error.empty()) error = with_errno("adj fclose");
  return error;
}

std::string read_adj_file(const std::string& path, std::vector<uint8_t>* marks, bool* out_of_memory) {
  *out_of_memory = false;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return with_errno("adj open");
  int32_t n = 0;
  if (fread(&n, 4, 1, f) != 1 || n < 0) {
    fclose(f);
    return "adj corrupt";
  }
  try {
    marks->assign(static_cast<size_t>(n), 0);
  } catch (const std::bad_alloc&) {
    fclose(f);
    *out_of_memory = true;
    return "out of memory";
  }
  // The position in 64 bits: runs of up to 31 bits each can't wrap it.
  uint64_t p = 0;
  uint32_t run;
  int r;
  bool sound = true;
  while ((r = get_varint(f, &run)) == 1) {
    p += run;
    if (p < static_cast<uint64_t>(n)) {
      (*marks)[p] = 1;
      ++p;
    } else if (p > static_cast<uint64_t>(n)) {
      sound = false;  // past N: nothing later can mend it
      break;
    }
  }
  fclose(f);
  if (!sound || r != 0 || p != static_cast<uint64_t>(n)) return "adj corrupt";
  return std::string();
}

}  // namespace vorlane::engine
