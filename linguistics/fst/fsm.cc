#include "linguistics/fst/fsm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "linguistics/fst/fst_errors.h"
#include "linguistics/fst/symbol_classes.h"

namespace vorlane {

namespace {

// Areas are read in pieces of at most this many bytes.
constexpr size_t kReadPiece = 32768;

// Where the reader takes its bytes from: a file or an image in memory.
struct Source {
  int fd = -1;
  const uint8_t* data = nullptr;
  uint64_t size = 0;

  // Reads exactly n bytes at pos; false when fewer come back.
  bool read_at(uint64_t pos, uint8_t* out, size_t n) const {
    if (pos > size || n > size - pos) return false;
    if (data != nullptr) {
      if (n > 0) std::memcpy(out, data + pos, n);
      return true;
    }
    while (n > 0) {
      size_t piece = n < kReadPiece ? n : kReadPiece;
      ssize_t got = ::pread(fd, out, piece, static_cast<off_t>(pos));
      if (got < 0 && errno == EINTR) continue;
      if (got != static_cast<ssize_t>(piece)) return false;
      out += piece;
      pos += piece;
      n -= piece;
    }
    return true;
  }
};

int open_source(const char* path, Source* src) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kFstCannotOpen;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kFstCannotOpen;
  }
  src->fd = fd;
  src->size = static_cast<uint64_t>(st.st_size);
  return 0;
}

void close_source(Source* src) {
  if (src->fd >= 0) ::close(src->fd);
  src->fd = -1;
}

// Checks of table-area structures. Offsets are file positions; the table
// area covers [92, 92 + length).
struct Area {
  const uint8_t* bytes;
  uint32_t length;

  // The span [offset, offset + n) lies in the table area.
  bool span(uint32_t offset, uint64_t n) const {
    return offset >= kFstHeaderSize && offset - kFstHeaderSize + n <= length;
  }
  uint32_t pos(uint32_t offset) const { return offset - static_cast<uint32_t>(kFstHeaderSize); }
  uint16_t u16(uint32_t offset) const { return be16(bytes + pos(offset)); }
  // A counted list at offset: its count word and elements lie in the area.
  bool counted_list(uint32_t offset, uint16_t* count) const {
    if (offset < kFstHeaderSize + 2 || !span(offset - 2, 2)) return false;
    *count = u16(offset - 2);
    return span(offset, uint64_t{*count} * 2);
  }
};

bool valid_name(const FSM& fsm, uint32_t index) { return fst_name_length(&fsm, index) >= 0; }

int32_t load_classes(FSM* fsm, const Area& area) {
  uint32_t list = be16(fsm->header + kHdrClassList);
  uint16_t count = 0;
  if (!area.counted_list(list, &count)) return kFstDamaged;
  if (count == 0) return 0;
  fsm->classes.reset(new (std::nothrow) FstClass[count]);
  if (!fsm->classes) return kFstNoMemory;
  fsm->class_count = count;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t record = area.u16(list + 2 * i);
    if (!area.span(record, kFstClassRecordSize)) return kFstDamaged;
    FstClass& c = fsm->classes[i];
    c.name_index = area.u16(record);
    if (!valid_name(*fsm, c.name_index)) return kFstDamaged;
    c.member_count = area.u16(record + 6);
    uint32_t names = area.u16(record + 4);
    uint32_t codes = area.u16(record + 8);
    if (c.member_count > 0) {
      if (!area.span(names, uint64_t{c.member_count} * 2) || !area.span(codes, uint64_t{c.member_count} * 2)) {
        return kFstDamaged;
      }
      c.member_names = area.pos(names);
      c.member_codes = area.pos(codes);
      for (uint32_t m = 0; m < c.member_count; ++m) {
        if (!valid_name(*fsm, be16(fsm->at(c.member_names + 2 * m)))) return kFstDamaged;
      }
    }
    // The symbol list is read only through bounds checks; an unusable one is
    // taken as empty rather than refusing the file.
    uint16_t symbols = 0;
    uint32_t symbol_list = area.u16(record + 2);
    if (area.counted_list(symbol_list, &symbols)) {
      c.symbols = area.pos(symbol_list);
      c.symbol_count = symbols;
    }
  }
  return 0;
}

int32_t load_nets(FSM* fsm, const Area& area) {
  uint32_t count = fsm->header[kHdrNetCount];
  if (count == 0) return 0;
  uint32_t list = be16(fsm->header + kHdrNetList);
  if (!area.span(list, uint64_t{count} * 2)) return kFstDamaged;
  fsm->nets.reset(new (std::nothrow) FstNet[count]);
  if (!fsm->nets) return kFstNoMemory;
  fsm->net_count = count;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t offset = area.u16(list + 2 * i);
    if (!area.span(offset, kFstDescriptorSize)) return kFstDamaged;
    FstNet& net = fsm->nets[i];
    const uint8_t* d = fsm->at(area.pos(offset));
    std::memcpy(net.file_bytes, d, kFstDescriptorSize);
    net.byte1 = d[1];
    net.byte6 = d[6];
    net.flags = static_cast<uint8_t>(((d[7] & 8) ? 0x80 : 0) | ((d[7] & 4) ? 0x40 : 0) | ((d[7] & 16) ? 0x20 : 0));
    net.start = be32(d + 8);
    net.epsilon_bound = d[21];
    net.instr_label = d[32];
    net.initial_flags = be16(d + 34);
    net.offset2 = be16(d + 2);
    if (fsm->format_flags & kFstFormatLongPadding) net.offset4 = be16(d + 4);
    net.offset14 = be16(d + 14);
    if (net.start >= fsm->trans_length) return kFstDamaged;
  }
  return 0;
}

// A pointer table holding `wanted` entries: the entries that lie inside the
// table area are usable; a walk that needs one past them finds damage then.
void load_pointer_table(const FSM& fsm, size_t field, uint32_t wanted, uint32_t* position, uint32_t* count) {
  *position = 0;
  *count = 0;
  if (wanted == 0) return;
  uint32_t offset = be16(fsm.header + field);
  if (offset < kFstHeaderSize || offset - kFstHeaderSize > fsm.table_length) return;
  *position = offset - static_cast<uint32_t>(kFstHeaderSize);
  uint32_t room = (fsm.table_length - *position) / fsm.pointer_width;
  *count = room < wanted ? room : wanted;
}

// Checks the table area and fills the FSM's positions from it.
int32_t build(FSM* fsm) {
  const uint8_t* h = fsm->header;
  Area area{fsm->table.get(), fsm->table_length};

  // Names area first: every later name index is checked against it.
  uint32_t names = be16(h + kHdrNames);
  if (!area.span(names, 2)) return kFstDamaged;
  uint16_t names_size = area.u16(names);
  if (names_size < 2 || !area.span(names, names_size)) return kFstDamaged;
  fsm->names = area.pos(names);
  fsm->names_size = names_size;

  uint32_t info = h[kHdrInfoOffset];
  if (!area.span(info, 1) || !area.span(info, 1u + fsm->at(area.pos(info))[0])) return kFstDamaged;
  fsm->info = area.pos(info);

  uint32_t function_table = be16(h + kHdrFunctionTable);
  if (!area.span(function_table, 1) || !area.span(function_table, 1u + fsm->at(area.pos(function_table))[0])) {
    return kFstDamaged;
  }
  fsm->function_table = area.pos(function_table);

  uint32_t char_table = be16(h + kHdrCharTable);
  if (!area.counted_list(char_table, &fsm->char_table_count)) return kFstDamaged;
  fsm->char_table = area.pos(char_table);

  // The first alphabet record and its character map.
  uint32_t alphabet = be16(h + kHdrAlphabet);
  if (!area.span(alphabet, kFstAlphabetRecordSize)) return kFstDamaged;
  const uint8_t* record = fsm->at(area.pos(alphabet));
  fsm->char_high = record[1];
  fsm->char_low = record[5];
  fsm->wide_map = (fsm->format_flags & kFstFormatWideMap) != 0;
  if (fsm->char_high >= fsm->char_low) {
    uint32_t map = be16(record + 8);
    uint32_t entries = uint32_t{fsm->char_high} - fsm->char_low + 1;
    if (!area.span(map, uint64_t{entries} * (fsm->wide_map ? 2 : 1))) return kFstDamaged;
    fsm->char_map = area.pos(map);
  }

  uint8_t short_op = fsm->short_op, medium_op = fsm->medium_op, long_op = fsm->long_op;
  load_pointer_table(*fsm, kHdrShortTable, medium_op > short_op ? medium_op - short_op : 0, &fsm->short_table,
                     &fsm->short_count);
  load_pointer_table(*fsm, kHdrMediumTable, long_op > medium_op ? (long_op - medium_op) * 256u : 0,
                     &fsm->medium_table, &fsm->medium_count);

  int32_t rc = load_nets(fsm, area);
  if (rc != 0) return rc;
  rc = load_classes(fsm, area);
  if (rc != 0) return rc;
  fst_read_specials(fsm);
  return fst_build_tag_tables(fsm);
}

// Reads the header and applies the checks that need nothing else.
int32_t read_header(const Source& src, uint8_t* header) {
  if (!src.read_at(0, header, kFstHeaderSize)) return kFstDamaged;
  if (header[kHdrFileType] != 1) return kFstDamaged;
  return 0;
}

void* read_fsm(const Source& src) {
  std::unique_ptr<FSM> fsm(new (std::nothrow) FSM);
  if (!fsm) return fst_error_handle(kFstNoMemory);
  uint8_t* h = fsm->header;
  int32_t rc = read_header(src, h);
  if (rc != 0) return fst_error_handle(rc);

  // Checks made before anything is allocated for the file's areas.
  uint32_t trans_start = be16(h + kHdrTransStart);
  uint32_t trans_length = be32(h + kHdrTransLength);
  if (h[kHdrTableStart] != kFstHeaderSize || trans_start < kFstHeaderSize || h[kHdrEscStep] == 0 ||
      trans_length > src.size || h[kHdrAlphabetCount] == 0) {
    return fst_error_handle(kFstDamaged);
  }
  fsm->esc = h[kHdrEsc];
  fsm->esc_step = h[kHdrEscStep];
  fsm->alphabase = h[kHdrAlphabase];
  fsm->short_op = h[kHdrShortOp];
  fsm->medium_op = h[kHdrMediumOp];
  fsm->long_op = h[kHdrLongOp];
  fsm->table_label = h[kHdrTableLabel];
  fsm->nid_label = h[kHdrNidLabel];
  fsm->eps_label = h[kHdrEpsLabel];
  fsm->format_flags = h[kHdrFormatFlags];
  fsm->coding_flags = h[kHdrCodingFlags];
  fsm->pointer_width = h[kHdrPointerWidth] == 2 ? 2 : 3;

  // A file cut short keeps "memory or read failure".
  fsm->table_length = trans_start - static_cast<uint32_t>(kFstHeaderSize);
  fsm->table.reset(new (std::nothrow) uint8_t[fsm->table_length + 1]);
  if (!fsm->table || !src.read_at(kFstHeaderSize, fsm->table.get(), fsm->table_length)) {
    return fst_error_handle(kFstNoMemory);
  }
  fsm->trans_length = trans_length;
  fsm->trans.reset(new (std::nothrow) uint8_t[size_t{trans_length} + 1]);
  if (!fsm->trans || !src.read_at(trans_start, fsm->trans.get(), trans_length)) {
    return fst_error_handle(kFstNoMemory);
  }
  fsm->trans[trans_length] = 0;  // a walk that runs off the end meets a branch end

  rc = build(fsm.get());
  if (rc != 0) return fst_error_handle(rc);
  fsm->memo.reset(new (std::nothrow) LookupMemo);
  return fsm.release();
}

}  // namespace

void* fst_read(const char* path) {
  Source src;
  int32_t rc = open_source(path, &src);
  if (rc != 0) return fst_error_handle(rc);
  void* result = read_fsm(src);
  close_source(&src);
  return result;
}

void* fst_read_memory(const uint8_t* data, size_t size) {
  Source src;
  src.data = data;
  src.size = size;
  return read_fsm(src);
}

void* fst_read_header(const char* path) {
  Source src;
  int32_t rc = open_source(path, &src);
  if (rc != 0) return fst_error_handle(rc);
  std::unique_ptr<FstHeaderObject> header(new (std::nothrow) FstHeaderObject);
  if (!header) rc = kFstNoMemory;
  if (rc == 0) rc = read_header(src, header->bytes);
  close_source(&src);
  if (rc != 0) return fst_error_handle(rc);
  return header.release();
}

void fst_free(FSM* fsm) { delete fsm; }

int32_t fst_check(const void* object, const FSM** fsm) {
  int32_t rc = fst_status(object);
  if (rc != 0) return rc;
  uint32_t magic;
  std::memcpy(&magic, object, sizeof magic);
  if (magic != kFsmMagic) return kFstBadFsm;
  *fsm = static_cast<const FSM*>(object);
  return 0;
}

uint8_t fst_function(int32_t f, const FSM* fsm) {
  const uint8_t* table = fsm->at(fsm->function_table);
  if (f < 1 || f > table[0]) return 255;
  uint8_t net = table[f];
  if (net >= fsm->net_count) return 255;
  return net;
}

}  // namespace vorlane
