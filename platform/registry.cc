#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/errors.h"
#include "platform/file_replace.h"
#include "platform/line_escape.h"
#include "platform/root.h"

namespace vorlane::platform {

struct RegKeyRecord {
  std::string dir;  // empty for a root key: resolved on each use
  RegAccess access = RegAccess::read;
  int root = -1;    // index into root_names for a root key
};

namespace {

const char* const root_names[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                                  "HKEY_USERS"};

RegKeyRecord root_keys[] = {
    {"", RegAccess::full, 0}, {"", RegAccess::full, 1}, {"", RegAccess::full, 2}, {"", RegAccess::full, 3}};

std::string key_dir(RegKey key) {
  if (key->root < 0) return key->dir;
  std::string dir = root_dir() + "/registry/" + root_names[key->root];
  make_dirs(dir);
  return dir;
}

// Splits a key name into its components; false when one is not acceptable.
bool split_name(const char* name, std::vector<std::string>* parts) {
  std::string all = name;
  if (all.empty()) return true;
  size_t start = 0;
  while (true) {
    size_t end = all.find('\\', start);
    std::string part = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part[0] == '.' || part.find('/') != std::string::npos) return false;
    parts->push_back(part);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

// The entry of dir whose name equals part without regard to ASCII case
// (the exact spelling first); empty when there is none.
std::string find_entry(const std::string& dir, const std::string& part) {
  struct stat st;
  if (stat((dir + "/" + part).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return part;
  DIR* d = opendir(dir.c_str());
  if (!d) return std::string();
  std::string found;
  while (struct dirent* e = readdir(d)) {
    if (strcasecmp(e->d_name, part.c_str()) == 0 &&
        stat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

int errno_to_error(int err) {
  if (err == EACCES || err == EPERM || err == EROFS) return error_access_denied;
  return error_file_not_found;
}

int check_access(const std::string& dir, RegAccess access) {
  int mode = access == RegAccess::full ? (R_OK | W_OK | X_OK) : (R_OK | X_OK);
  if (::access(dir.c_str(), mode) == 0) return error_success;
  return errno_to_error(errno);
}

int walk(RegKey parent, const char* name, RegAccess access, bool create, RegKey* out) {
  if (!out) return error_invalid_parameter;
  *out = nullptr;
  if (!parent || !name) return error_invalid_parameter;
  std::vector<std::string> parts;
  if (!split_name(name, &parts)) return error_invalid_parameter;
  std::string dir = key_dir(parent);
  for (const std::string& part : parts) {
    std::string entry = find_entry(dir, part);
    if (entry.empty()) {
      if (!create) return error_file_not_found;
      if (mkdir((dir + "/" + part).c_str(), 0755) != 0 && errno != EEXIST) return errno_to_error(errno);
      entry = find_entry(dir, part);
      if (entry.empty()) return error_file_not_found;
    }
    dir += "/" + entry;
  }
  int rc = check_access(dir, access);
  if (rc != error_success) return rc;
  *out = new RegKeyRecord{dir, access, -1};
  return error_success;
}

struct Value {
  uint32_t type = 0;
  std::string name;
  std::string data;
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_line(const std::string& line, Value* v) {
  size_t t1 = line.find('\t');
  if (t1 == std::string::npos || t1 == 0) return false;
  size_t t2 = line.find('\t', t1 + 1);
  if (t2 == std::string::npos) return false;
  char* end = nullptr;
  unsigned long type = strtoul(line.c_str(), &end, 10);
  if (end != line.c_str() + t1 || type > 0xFFFFFFFFul) return false;
  v->type = static_cast<uint32_t>(type);
  if (!unescape_field(std::string_view(line).substr(t1 + 1, t2 - t1 - 1), &v->name)) return false;
  std::string hex = line.substr(t2 + 1);
  if (hex.size() % 2) return false;
  v->data.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = hex_digit(hex[i]), lo = hex_digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    v->data += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

std::vector<Value> read_values(const std::string& dir) {
  std::vector<Value> values;
  FILE* f = fopen((dir + "/.values").c_str(), "rb");
  if (!f) return values;
  std::string content;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
  fclose(f);
  size_t start = 0;
  while (start < content.size()) {
    size_t nl = content.find('\n', start);
    if (nl == std::string::npos) break;  // a line without its end is not whole
    Value v;
    if (parse_line(content.substr(start, nl - start), &v)) values.push_back(std::move(v));
    start = nl + 1;
  }
  return values;
}

int write_values(const std::string& dir, const std::vector<Value>& values) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const Value& v : values) {
    out += std::to_string(v.type);
    out += '\t';
    append_escaped(out, v.name);
    out += '\t';
    for (unsigned char c : v.data) {
      out += digits[c >> 4];
      out += digits[c & 15];
    }
    out += '\n';
  }
  int err = replace_file(dir + "/.values", out, true);
  return err == 0 ? error_success : errno_to_error(err);
}

// Runs change over the key's value list under the key's lock and writes the
// result back when change returns success.
template <typename Change>
int update_values(RegKey key, Change change) {
  if (!key) return error_invalid_parameter;
  if (key->access != RegAccess::full) return error_access_denied;
  std::string dir = key_dir(key);
  int lock = open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) return errno_to_error(errno);
  while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  std::vector<Value> values = read_values(dir);
  int rc = change(values);
  if (rc == error_success) rc = write_values(dir, values);
  close(lock);  // releases the lock
  return rc;
}

}  // namespace

RegKey reg_root(RegRoot root) { return &root_keys[static_cast<int>(root)]; }

RegKey reg_root_by_name(const char* name) {
  if (!name) return nullptr;
  for (int i = 0; i < 4; ++i)
    if (strcmp(name, root_names[i]) == 0) return &root_keys[i];
  return nullptr;
}

int reg_create_key(RegKey parent, const char* name, RegAccess access, RegKey* out) {
  return walk(parent, name, access, true, out);
}

int reg_open_key(RegKey parent, const char* name, RegAccess access, RegKey* out) {
  return walk(parent, name, access, false, out);
}

void reg_close_key(RegKey key) {
  if (key && key->root < 0) delete key;
}

int reg_set_value(RegKey key, const char* name, uint32_t type, const void* data, size_t size) {
  if (!name || (size && !data)) return error_invalid_parameter;
  std::string bytes(static_cast<const char*>(data), size);
  return update_values(key, [&](std::vector<Value>& values) {
    for (Value& v : values) {
      if (strcasecmp(v.name.c_str(), name) == 0) {
        v.type = type;
        v.data = bytes;
        return error_success;
      }
    }
    values.push_back(Value{type, name, bytes});
    return error_success;
  });
}

int reg_query_value(RegKey key, const char* name, uint32_t* type, void* data, size_t* size) {
  if (!key || !name || (data && !size)) return error_invalid_parameter;
  for (const Value& v : read_values(key_dir(key))) {
    if (strcasecmp(v.name.c_str(), name) != 0) continue;
    if (type) *type = v.type;
    if (data) {
      if (v.data.size() > *size) {
        *size = v.data.size();
        return error_more_data;
      }
      memcpy(data, v.data.data(), v.data.size());
    }
    if (size) *size = v.data.size();
    return error_success;
  }
  return error_file_not_found;
}

int reg_delete_value(RegKey key, const char* name) {
  if (!name) return error_invalid_parameter;
  return update_values(key, [&](std::vector<Value>& values) {
    for (size_t i = 0; i < values.size(); ++i) {
      if (strcasecmp(values[i].name.c_str(), name) == 0) {
        values.erase(values.begin() + static_cast<long>(i));
        return error_success;
      }
    }
    return error_file_not_found;
  });
}

std::string reg_key_directory(RegKey key) { return key ? key_dir(key) : std::string(); }

}  // namespace vorlane::platform
