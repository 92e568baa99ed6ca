#include "store/alloc.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

// Huge allocations must fail with null rather than abort inside the
// sanitizer's allocator, so that the fail-stop path itself is what is tested.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_options() {
  return "allocator_may_return_null=1";
}

namespace vorlane {
namespace {

TEST(Valloc, PagesAreZeroedAndFreedWhole) {
  for (size_t size : {size_t{1}, size_t{4096}, size_t{4097}, size_t{3686400}}) {
    auto* p = static_cast<unsigned char*>(valloc(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
    for (size_t i = 0; i < size; i += 997) EXPECT_EQ(p[i], 0);
    memset(p, 0xAB, size);
    EXPECT_NE(vfree(p, 0), 0);
  }
  EXPECT_EQ(vfree_block(nullptr), 0);
  int local;
  EXPECT_EQ(vfree_block(&local), 0);  // not a valloc block
}

TEST(SMallocDeathTest, FailureEndsTheProcess) {
  EXPECT_EXIT(s_malloc(SIZE_MAX / 2), ::testing::ExitedWithCode(1), "malloc failed");
  void* block = s_malloc(16);
  EXPECT_EXIT(s_realloc(block, SIZE_MAX / 2), ::testing::ExitedWithCode(1), "realloc failed");
  s_free(block);
}

TEST(SMalloc, DebugVariantsReport) {
  testing::internal::CaptureStderr();
  void* p = s_malloc_debug(10, "file.cc", 7);
  p = s_realloc_debug(p, 20, "file.cc", 8);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "s_malloc(10) at line 7 in file file.cc\ns_realloc(20) at line 8 in file file.cc\n");
  s_free(p);
}

TEST(LockPages, LocksAndUnlocks) {
  void* p = valloc(8192);
  ASSERT_NE(p, nullptr);
  int locked = lock_pages(p, 8192);
  if (locked) {
    EXPECT_NE(unlock_pages(p, 8192), 0);
  }
  vfree(p, 0);
}

}  // namespace
}  // namespace vorlane
