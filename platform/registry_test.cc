#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/testing/test_root.h"

namespace vorlane::platform {
namespace {

std::string read_value(RegKey key, const char* name, uint32_t* type) {
  char buf[256];
  size_t size = sizeof buf;
  if (reg_query_value(key, name, type, buf, &size) != error_success) return "<missing>";
  return std::string(buf, size);
}

TEST(Registry, ValuesKeepTypeAndBytesAndNamesIgnoreCase) {
  TestRoot root;
  RegKey key = nullptr;
  ASSERT_EQ(reg_create_key(reg_root(RegRoot::local_machine), "SOFTWARE\\Test", RegAccess::full, &key),
            error_success);
  const char binary[] = {'\0', '\n', '\t', '\\', 'x', '\xff'};
  uint32_t dword = 0xDEADBEEF;
  ASSERT_EQ(reg_set_value(key, "Str", reg_sz, "abc", 4), error_success);
  ASSERT_EQ(reg_set_value(key, "num", reg_dword, &dword, 4), error_success);
  ASSERT_EQ(reg_set_value(key, "bin\tname\n\\", reg_binary, binary, sizeof binary), error_success);
  ASSERT_EQ(reg_set_value(key, "", reg_expand_sz, "%X%", 4), error_success);
  reg_close_key(key);

  ASSERT_EQ(reg_open_key(reg_root(RegRoot::local_machine), "software\\TEST", RegAccess::read, &key), error_success);
  uint32_t type = 0;
  EXPECT_EQ(read_value(key, "STR", &type), std::string("abc\0", 4));
  EXPECT_EQ(type, reg_sz);
  EXPECT_EQ(read_value(key, "Num", &type), std::string(reinterpret_cast<char*>(&dword), 4));
  EXPECT_EQ(type, reg_dword);
  EXPECT_EQ(read_value(key, "BIN\tNAME\n\\", &type), std::string(binary, sizeof binary));
  EXPECT_EQ(type, reg_binary);
  EXPECT_EQ(read_value(key, "", &type), std::string("%X%\0", 4));
  EXPECT_EQ(type, reg_expand_sz);
  EXPECT_EQ(read_value(key, "missing", &type), "<missing>");
  // A key keeps the spelling it was made with.
  EXPECT_EQ(reg_key_directory(key), root.path() + "/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Test");
  reg_close_key(key);
}

TEST(Registry, ReplacingAValueKeepsTheOthersAndTheirOrder) {
  TestRoot root;
  RegKey key = nullptr;
  ASSERT_EQ(reg_create_key(reg_root(RegRoot::users), "k", RegAccess::full, &key), error_success);
  reg_set_value(key, "a", reg_sz, "1", 2);
  reg_set_value(key, "b", reg_sz, "2", 2);
  reg_set_value(key, "A", reg_dword, "\x05\0\0\0", 4);
  uint32_t type = 0;
  EXPECT_EQ(read_value(key, "a", &type), std::string("\x05\0\0\0", 4));
  EXPECT_EQ(type, reg_dword);
  std::ifstream in(reg_key_directory(key) + "/.values");
  std::string first, second, extra;
  std::getline(in, first);
  std::getline(in, second);
  EXPECT_EQ(first, "4\ta\t05000000");
  EXPECT_EQ(second, "1\tb\t3200");
  EXPECT_FALSE(std::getline(in, extra));
  EXPECT_EQ(reg_delete_value(key, "B"), error_success);
  EXPECT_EQ(reg_delete_value(key, "b"), error_file_not_found);
  EXPECT_EQ(read_value(key, "b", &type), "<missing>");
  reg_close_key(key);
}

TEST(Registry, SizesAndBuffers) {
  TestRoot root;
  RegKey key = nullptr;
  ASSERT_EQ(reg_create_key(reg_root(RegRoot::current_user), "k", RegAccess::full, &key), error_success);
  reg_set_value(key, "v", reg_sz, "hello", 6);
  size_t size = 0;
  EXPECT_EQ(reg_query_value(key, "v", nullptr, nullptr, &size), error_success);
  EXPECT_EQ(size, 6u);
  char small[5] = {'#', '#', '#', '#', '#'};
  size = sizeof small;
  EXPECT_EQ(reg_query_value(key, "v", nullptr, small, &size), error_more_data);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::string(small, 5), "#####");
  reg_set_value(key, "empty", reg_binary, nullptr, 0);
  size = sizeof small;
  EXPECT_EQ(reg_query_value(key, "empty", nullptr, small, &size), error_success);
  EXPECT_EQ(size, 0u);
  reg_close_key(key);
}

TEST(Registry, KeysAndAccess) {
  TestRoot root;
  RegKey hklm = reg_root(RegRoot::local_machine);
  RegKey key = nullptr;
  EXPECT_EQ(reg_open_key(hklm, "Nope", RegAccess::read, &key), error_file_not_found);
  EXPECT_EQ(key, nullptr);
  for (const char* bad : {".values", "a/b", "a\\\\b", "\\a", "..", "x\\.lock"})
    EXPECT_EQ(reg_create_key(hklm, bad, RegAccess::full, &key), error_invalid_parameter) << bad;

  ASSERT_EQ(reg_create_key(hklm, "A\\B", RegAccess::full, &key), error_success);
  reg_close_key(key);
  ASSERT_EQ(reg_open_key(hklm, "a", RegAccess::read, &key), error_success);
  RegKey same = nullptr;
  ASSERT_EQ(reg_open_key(key, "", RegAccess::read, &same), error_success);
  EXPECT_EQ(reg_key_directory(same), reg_key_directory(key));
  // Read access refuses writes.
  EXPECT_EQ(reg_set_value(key, "v", reg_sz, "x", 2), error_access_denied);
  EXPECT_EQ(reg_delete_value(key, "v"), error_access_denied);
  reg_close_key(same);
  reg_close_key(key);

  EXPECT_EQ(reg_root_by_name("HKEY_USERS"), reg_root(RegRoot::users));
  EXPECT_EQ(reg_root_by_name("HKEY_CLASSES_ROOT"), reg_root(RegRoot::classes_root));
  EXPECT_EQ(reg_root_by_name("hkey_users"), nullptr);
  EXPECT_EQ(reg_root_by_name("HKEY_OTHER"), nullptr);
}

// Opens and creates under a key whose directory is read only; returns what
// went wrong (empty when all is right).
std::string locked_key_faults(const std::string& dir) {
  std::string faults;
  chmod(dir.c_str(), 0555);
  RegKey key = nullptr;
  RegKey hklm = reg_root(RegRoot::local_machine);
  if (reg_open_key(hklm, "Locked", RegAccess::full, &key) != error_access_denied) faults += "opened for writing; ";
  if (reg_open_key(hklm, "Locked", RegAccess::read, &key) != error_success) faults += "not opened for reading; ";
  reg_close_key(key);
  if (reg_create_key(hklm, "Locked\\Sub", RegAccess::full, &key) != error_access_denied) faults += "created below; ";
  chmod(dir.c_str(), 0755);
  return faults;
}

TEST(Registry, WriteAccessNeedsAWritableKeyDirectory) {
  TestRoot root;
  RegKey key = nullptr;
  ASSERT_EQ(reg_create_key(reg_root(RegRoot::local_machine), "Locked", RegAccess::full, &key), error_success);
  std::string dir = reg_key_directory(key);
  reg_close_key(key);
  if (geteuid() != 0) {
    EXPECT_EQ(locked_key_faults(dir), "");
    return;
  }
  // Root may write anywhere: the checks run in a child that has become an
  // ordinary user and owns the root's files.
  for (std::filesystem::path p = root.path(); p.has_relative_path(); p = p.parent_path()) {
    struct stat st;
    if (p != root.path() && (stat(p.c_str(), &st) != 0 || !(st.st_mode & S_IXOTH)))
      GTEST_SKIP() << p << " is closed to other users";
  }
  const uid_t nobody = 65534;
  ASSERT_EQ(chown(root.path().c_str(), nobody, nobody), 0);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root.path()))
    ASSERT_EQ(lchown(entry.path().c_str(), nobody, nobody), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (setgid(nobody) != 0 || setuid(nobody) != 0) _exit(2);
    std::string faults = locked_key_faults(dir);
    if (!faults.empty()) fprintf(stderr, "%s\n", faults.c_str());
    _exit(faults.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Registry, DamagedLinesAreDroppedAndTheRestStillReads) {
  TestRoot root;
  RegKey key = nullptr;
  ASSERT_EQ(reg_create_key(reg_root(RegRoot::local_machine), "K", RegAccess::full, &key), error_success);
  {
    std::ofstream out(reg_key_directory(key) + "/.values");
    out << "1\tgood\t6100\n"
           "x\tbadtype\t00\n"
           "1\toddhex\t610\n"
           "1\tbadhex\tzz\n"
           "no tabs at all\n"
           "4\tpartial\t0100";  // no newline: a line cut short
  }
  uint32_t type = 0;
  EXPECT_EQ(read_value(key, "good", &type), std::string("a\0", 2));
  for (const char* name : {"badtype", "oddhex", "badhex", "partial"})
    EXPECT_EQ(read_value(key, name, &type), "<missing>") << name;
  // A write rewrites the file with the good lines only.
  ASSERT_EQ(reg_set_value(key, "new", reg_sz, "b", 2), error_success);
  std::ifstream in(reg_key_directory(key) + "/.values");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "1\tgood\t6100\n1\tnew\t6200\n");
  reg_close_key(key);
}

TEST(Registry, ConcurrentWritersLoseNoValue) {
  TestRoot root;
  constexpr int threads = 4, each = 40;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < each; ++i) {
        RegKey key = nullptr;
        if (reg_create_key(reg_root(RegRoot::local_machine), "Shared", RegAccess::full, &key) != error_success)
          return;
        std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
        uint32_t v = static_cast<uint32_t>(t * 1000 + i);
        reg_set_value(key, name.c_str(), reg_dword, &v, 4);
        reg_close_key(key);
      }
    });
  }
  for (std::thread& w : workers) w.join();
  RegKey key = nullptr;
  ASSERT_EQ(reg_open_key(reg_root(RegRoot::local_machine), "Shared", RegAccess::read, &key), error_success);
  for (int t = 0; t < threads; ++t) {
    for (int i = 0; i < each; ++i) {
      std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
      uint32_t v = 0;
      size_t size = 4;
      ASSERT_EQ(reg_query_value(key, name.c_str(), nullptr, &v, &size), error_success) << name;
      EXPECT_EQ(v, static_cast<uint32_t>(t * 1000 + i));
    }
  }
  reg_close_key(key);
}

}  // namespace
}  // namespace vorlane::platform
