#include "tools/fst/fst_writer.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "linguistics/fst/fst_format.h"

namespace vorlane::fstw {

namespace {

constexpr uint32_t kNoLocation = 0xFFFFFFFF;

enum class PointerKind { kShort, kMedium, kLong };

// Lays out every net of a file into one transition area.
class TransitionWriter {
 public:
  TransitionWriter(const FileDesc& desc, std::string* error) : desc_(desc), error_(error) {}

  bool write() {
    assign_pointer_kinds();
    for (size_t n = 0; n < desc_.nets.size(); ++n) {
      const Net& net = desc_.nets[n];
      if (net.states.empty()) return fail("a net without states");
      starts_.push_back(static_cast<uint32_t>(bytes_.size()));
      locations_.assign(net.states.size(), kNoLocation);
      table_locations_.assign(net.tables.size(), kNoLocation);
      net_ = n;
      bytes_.push_back(static_cast<uint8_t>(desc_.alphabase | (net.states[0].final ? vorlane::kArcFinal : 0)));
      if (!emit_target(0, true)) return false;
      // States left for later and tables, until every one is placed.
      while (!queue_.empty() || !pending_tables_.empty()) {
        while (!queue_.empty()) {
          int32_t t = queue_.back();
          queue_.pop_back();
          if (locations_[t] == kNoLocation && !emit_state(t)) return false;
        }
        std::vector<int32_t> tables;
        tables.swap(pending_tables_);
        for (int32_t t : tables) {
          if (!emit_table(t)) return false;
        }
      }
      for (auto& [pos, state] : long_patches_) {
        if (!put_long(pos, locations_[state])) return false;
      }
      for (auto& [pos, table] : table_patches_) {
        if (!put_long(pos, table_locations_[table])) return false;
      }
      long_patches_.clear();
      table_patches_.clear();
    }
    // A slot of a state that nothing reaches stays unused.
    for (uint32_t& location : short_entries_) {
      if (location == kNoLocation) location = 0;
    }
    for (uint32_t& location : medium_entries_) {
      if (location == kNoLocation) location = 0;
    }
    return true;
  }

  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> starts_;
  std::vector<uint32_t> short_entries_;
  std::vector<uint32_t> medium_entries_;
  bool has_tables_ = false;

 private:
  using Key = uint64_t;  // net << 32 | state
  static Key key(size_t net, int32_t state) { return (Key{net} << 32) | static_cast<uint32_t>(state); }

  bool fail(const std::string& why) {
    *error_ = why;
    return false;
  }

  // Counts the arcs and table entries into each state with arcs and hands
  // out the table slots to the most used states.
  void assign_pointer_kinds() {
    std::unordered_map<Key, uint32_t> uses;
    for (size_t n = 0; n < desc_.nets.size(); ++n) {
      const Net& net = desc_.nets[n];
      std::vector<uint32_t> in(net.states.size(), 0);
      auto count = [&](const Arc& a) {
        if (a.table < 0 && a.target >= 0 && static_cast<size_t>(a.target) < in.size()) ++in[a.target];
      };
      for (const State& s : net.states) {
        for (const Arc& a : s.arcs) count(a);
      }
      for (const Table& t : net.tables) {
        for (const Arc& a : t.entries) count(a);
      }
      for (size_t s = 0; s < in.size(); ++s) {
        uint32_t pointers = s == 0 ? in[s] : (in[s] > 0 ? in[s] - (desc_.out_of_line ? 0 : 1) : 0);
        if (pointers > 0 && !net.states[s].arcs.empty()) uses[key(n, static_cast<int32_t>(s))] = pointers;
      }
    }
    std::vector<std::pair<uint32_t, Key>> ranked;
    for (auto& [k, count] : uses) ranked.emplace_back(count, k);
    std::sort(ranked.begin(), ranked.end(),
              [](auto& a, auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });

    int64_t short_room = desc_.medium_op > desc_.short_op ? desc_.medium_op - desc_.short_op : 0;
    int64_t medium_room = desc_.long_op > desc_.medium_op ? (desc_.long_op - desc_.medium_op) * 256 : 0;
    if (desc_.short_slots >= 0) short_room = std::min<int64_t>(short_room, desc_.short_slots);
    if (desc_.medium_slots >= 0) medium_room = std::min<int64_t>(medium_room, desc_.medium_slots);
    for (auto& [count, k] : ranked) {
      if (short_room > 0) {
        slot_[k] = static_cast<uint32_t>(short_entries_.size());
        kind_[k] = PointerKind::kShort;
        short_entries_.push_back(kNoLocation);
        --short_room;
      } else if (medium_room > 0) {
        slot_[k] = static_cast<uint32_t>(medium_entries_.size());
        kind_[k] = PointerKind::kMedium;
        medium_entries_.push_back(kNoLocation);
        --medium_room;
      } else {
        kind_[k] = PointerKind::kLong;
      }
    }
  }

  const Net& net() const { return desc_.nets[net_]; }

  bool valid_state(int32_t t) const { return t >= 0 && static_cast<size_t>(t) < net().states.size(); }

  // Writes what follows an arc leading to state t: a 0, a pointer to the
  // state's first arc, or (when inline) the state itself.
  bool emit_target(int32_t t, bool inline_ok) {
    if (!valid_state(t)) return fail("an arc to a state that does not exist");
    const State& state = net().states[t];
    if (state.arcs.empty()) {
      bytes_.push_back(0);
      return true;
    }
    if (locations_[t] == kNoLocation && inline_ok) return emit_state(t);
    if (locations_[t] == kNoLocation) queue_.push_back(t);
    return emit_pointer(t);
  }

  // Places state t's arcs at the current position.
  bool emit_state(int32_t t) {
    const State& state = net().states[t];
    locations_[t] = static_cast<uint32_t>(bytes_.size());
    Key k = key(net_, t);
    auto slot = slot_.find(k);
    if (slot != slot_.end()) {
      auto& entries = kind_[k] == PointerKind::kShort ? short_entries_ : medium_entries_;
      entries[slot->second] = locations_[t];
    }
    for (size_t i = 0; i < state.arcs.size(); ++i) {
      const Arc& arc = state.arcs[i];
      bool last = i + 1 == state.arcs.size();
      if (arc.table >= 0) {
        if (static_cast<size_t>(arc.table) >= net().tables.size()) return fail("an arc to a table that does not exist");
        bytes_.push_back(static_cast<uint8_t>(desc_.table_label | (last ? 0 : vorlane::kArcMore)));
        table_patches_.emplace_back(bytes_.size(), arc.table);
        bytes_.insert(bytes_.end(), 3, 0);
        if (table_locations_[arc.table] == kNoLocation) {
          table_locations_[arc.table] = kNoLocation - 1;  // queued
          pending_tables_.push_back(arc.table);
        }
        continue;
      }
      if (arc.label < desc_.alphabase || (arc.label & 3) != 0) return fail("an arc label that is not a label byte");
      if (!valid_state(arc.target)) return fail("an arc to a state that does not exist");
      uint8_t b = arc.label;
      if (!last) b |= vorlane::kArcMore;
      if (net().states[arc.target].final) b |= vorlane::kArcFinal;
      bytes_.push_back(b);
      if (!emit_target(arc.target, last || !desc_.out_of_line)) return false;
    }
    return true;
  }

  // A table after the states: size byte (or offset list), then 4-byte entries.
  bool emit_table(int32_t index) {
    has_tables_ = true;
    const Table& table = net().tables[index];
    if (table.entries.empty()) return fail("an empty table");
    uint8_t low = table.entries.front().label;
    uint8_t high = table.entries.back().label;
    if (low < desc_.alphabase) return fail("a table label below alphabase");
    if (desc_.table_offsets) {
      // Distances for d / 4 from the highest down to 1, then the size byte
      // (d = 0 is the first entry itself).
      for (int q = (high - low) / 4; q >= 1; --q) {
        uint8_t distance = 0;
        for (size_t j = 0; j < table.entries.size(); ++j) {
          if (table.entries[j].label == low + 4 * q) distance = static_cast<uint8_t>(4 * j);
        }
        bytes_.push_back(distance);
      }
      bytes_.push_back(static_cast<uint8_t>(high - low));
      table_locations_[index] = static_cast<uint32_t>(bytes_.size());
      for (size_t j = 0; j < table.entries.size(); ++j) {
        if (!emit_entry(table.entries[j], j + 1 < table.entries.size())) return false;
      }
      return true;
    }
    bytes_.push_back(static_cast<uint8_t>(high - low));
    table_locations_[index] = static_cast<uint32_t>(bytes_.size());
    size_t e = 0;
    for (uint32_t label = low; label <= high; label += 4) {
      if (e < table.entries.size() && table.entries[e].label < label) return fail("table entries out of order");
      if (e < table.entries.size() && table.entries[e].label == label) {
        if (!emit_entry(table.entries[e++], label < high)) return false;
      } else {
        bytes_.push_back(static_cast<uint8_t>(desc_.table_label | (label < high ? vorlane::kArcMore : 0)));
        bytes_.insert(bytes_.end(), 3, 0);
      }
    }
    return true;
  }

  // One 4-byte table entry: the arc byte, then its target padded to 3 bytes.
  bool emit_entry(const Arc& arc, bool more) {
    if (!valid_state(arc.target)) return fail("a table entry to a state that does not exist");
    bool final = net().states[arc.target].final;
    bytes_.push_back(static_cast<uint8_t>(arc.label | (more ? vorlane::kArcMore : 0) | (final ? vorlane::kArcFinal : 0)));
    size_t before = bytes_.size();
    if (!emit_target(arc.target, false)) return false;
    while (bytes_.size() < before + 3) bytes_.push_back(0);
    return true;
  }

  bool emit_pointer(int32_t t) {
    Key k = key(net_, t);
    auto kind = kind_.find(k);
    if (kind != kind_.end() && kind->second == PointerKind::kShort) {
      bytes_.push_back(static_cast<uint8_t>(desc_.short_op + slot_[k]));
    } else if (kind != kind_.end() && kind->second == PointerKind::kMedium) {
      uint32_t slot = slot_[k];
      bytes_.push_back(static_cast<uint8_t>(desc_.medium_op + slot / 256));
      bytes_.push_back(static_cast<uint8_t>(slot % 256));
    } else {
      long_patches_.emplace_back(bytes_.size(), t);
      bytes_.insert(bytes_.end(), 3, 0);
    }
    return true;
  }

  bool put_long(size_t pos, uint32_t location) {
    if (location >= kNoLocation - 1) return fail("a pointer to something never placed");
    uint32_t high = location >> 16;
    if (desc_.long_op + high >= desc_.alphabase) return fail("a location beyond the reach of long pointers");
    bytes_[pos] = static_cast<uint8_t>(desc_.long_op + high);
    bytes_[pos + 1] = static_cast<uint8_t>(location >> 8);
    bytes_[pos + 2] = static_cast<uint8_t>(location);
    return true;
  }

  const FileDesc& desc_;
  std::string* error_;
  size_t net_ = 0;
  std::vector<uint32_t> locations_;
  std::vector<uint32_t> table_locations_;
  std::vector<int32_t> queue_;
  std::vector<int32_t> pending_tables_;
  std::vector<std::pair<size_t, int32_t>> long_patches_;
  std::vector<std::pair<size_t, int32_t>> table_patches_;
  std::unordered_map<Key, PointerKind> kind_;
  std::unordered_map<Key, uint32_t> slot_;
};

// The table area under construction; positions are file positions.
class TableArea {
 public:
  uint32_t here() const { return static_cast<uint32_t>(vorlane::kFstHeaderSize + bytes.size()); }
  void byte(uint8_t b) { bytes.push_back(b); }
  void word(uint16_t w) {
    bytes.push_back(static_cast<uint8_t>(w >> 8));
    bytes.push_back(static_cast<uint8_t>(w));
  }
  // A counted list; returns its offset (the first element).
  uint32_t counted(const std::vector<uint16_t>& list) {
    word(static_cast<uint16_t>(list.size()));
    uint32_t at = here();
    for (uint16_t w : list) word(w);
    return at;
  }
  void set_word(uint32_t offset, uint16_t w) {
    size_t i = offset - vorlane::kFstHeaderSize;
    bytes[i] = static_cast<uint8_t>(w >> 8);
    bytes[i + 1] = static_cast<uint8_t>(w);
  }
  std::vector<uint8_t> bytes;
};

// Names area: names are interned; an index counts 16-bit units from the
// size word, so the first name has index 1.
class Names {
 public:
  uint16_t intern(const std::string& name) {
    auto it = index_.find(name);
    if (it != index_.end()) return it->second;
    auto at = static_cast<uint16_t>(1 + units_.size());
    units_.push_back(static_cast<uint16_t>(name.size()));
    for (unsigned char ch : name) units_.push_back(ch);
    index_[name] = at;
    return at;
  }
  void write(TableArea* area) const {
    area->word(static_cast<uint16_t>(2 + 2 * units_.size()));
    for (uint16_t u : units_) area->word(u);
  }

 private:
  std::vector<uint16_t> units_;
  std::map<std::string, uint16_t> index_;
};

void put_pointer(TableArea* area, uint32_t location, uint8_t width) {
  if (width != 2) area->byte(static_cast<uint8_t>(location >> 16));
  area->byte(static_cast<uint8_t>(location >> 8));
  area->byte(static_cast<uint8_t>(location));
}

}  // namespace

uint32_t fst_symbol_number(const FileDesc& desc, uint16_t code) {
  uint8_t label = static_cast<uint8_t>(code >> 8);
  if (label < desc.alphabase) return 0;
  return (label - desc.alphabase) / 4u + (code & 0xFFu) * desc.esc_step;
}

std::vector<uint8_t> fst_write_image(const FileDesc& desc, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (desc.info.size() > 255) {
    *error = "info text longer than 255 bytes";
    return {};
  }
  if (desc.esc_step == 0) {
    *error = "ESC step 0";
    return {};
  }
  TransitionWriter trans(desc, error);
  if (!trans.write()) return {};

  TableArea area;
  area.byte(static_cast<uint8_t>(desc.info.size()));
  for (char ch : desc.info) area.byte(static_cast<uint8_t>(ch));
  for (char ch : desc.version) area.byte(static_cast<uint8_t>(ch));
  area.byte(0);

  Names names;
  std::vector<uint16_t> class_names;
  for (const SymbolClass& c : desc.classes) {
    class_names.push_back(names.intern(c.name));
    for (const Member& m : c.members) names.intern(m.name);
  }
  uint32_t names_offset = area.here();
  names.write(&area);

  std::vector<uint16_t> records;
  std::vector<std::vector<uint16_t>> record_words;
  for (size_t i = 0; i < desc.classes.size(); ++i) {
    const SymbolClass& c = desc.classes[i];
    uint32_t member_names = area.here();
    for (const Member& m : c.members) area.word(names.intern(m.name));
    uint32_t member_codes = area.here();
    for (const Member& m : c.members) area.word(m.code);
    std::vector<uint16_t> symbols;
    for (const Member& m : c.members) {
      uint32_t number = fst_symbol_number(desc, m.code);
      if (number >= symbols.size()) symbols.resize(number + 1, 0);
      symbols[number] = names.intern(m.name);
    }
    uint32_t symbol_list = area.counted(symbols);
    record_words.push_back({class_names[i], static_cast<uint16_t>(symbol_list), static_cast<uint16_t>(member_names),
                            static_cast<uint16_t>(c.members.size()), static_cast<uint16_t>(member_codes)});
  }
  for (auto& words : record_words) {
    records.push_back(static_cast<uint16_t>(area.here()));
    for (uint16_t w : words) area.word(w);
  }
  uint32_t class_list = area.counted(records);
  uint32_t char_table = area.counted(desc.char_table);

  uint32_t alphabet = area.here();
  for (int i = 0; i < 16; ++i) area.byte(0);
  uint32_t char_map = area.here();
  bool wide = (desc.format_flags & vorlane::kFstFormatWideMap) != 0;
  for (uint16_t entry : desc.char_map) {
    if (wide) {
      area.word(entry);
    } else {
      area.byte(static_cast<uint8_t>(entry));
    }
  }
  {
    size_t i = alphabet - vorlane::kFstHeaderSize;
    area.bytes[i + 1] = desc.char_high;
    area.bytes[i + 5] = desc.char_low;
    area.set_word(alphabet + 6, static_cast<uint16_t>(desc.char_map.size()));
    area.set_word(alphabet + 8, static_cast<uint16_t>(char_map));
  }

  uint32_t function_table = area.here();
  int highest = desc.functions.empty() ? 0 : desc.functions.rbegin()->first;
  if (highest > 254) {
    *error = "function number above 254";
    return {};
  }
  area.byte(static_cast<uint8_t>(highest));
  for (int f = 1; f <= highest; ++f) {
    auto it = desc.functions.find(f);
    area.byte(it == desc.functions.end() ? 255 : it->second);
  }

  std::vector<uint16_t> descriptors;
  for (size_t n = 0; n < desc.nets.size(); ++n) {
    const Net& net = desc.nets[n];
    descriptors.push_back(static_cast<uint16_t>(area.here()));
    uint8_t d[vorlane::kFstDescriptorSize] = {};
    vorlane::put_be32(d + 8, trans.starts_[n]);
    d[21] = net.epsilon_bound;
    d[32] = net.instr_label;
    vorlane::put_be16(d + 34, net.initial_flags);
    for (uint8_t b : d) area.byte(b);
  }
  uint32_t net_list = area.here();
  for (uint16_t d : descriptors) area.word(d);

  uint32_t short_table = area.here();
  for (uint32_t location : trans.short_entries_) put_pointer(&area, location, desc.pointer_width);
  uint32_t medium_table = area.here();
  for (uint32_t location : trans.medium_entries_) put_pointer(&area, location, desc.pointer_width);

  uint32_t trans_start = area.here();
  if (trans_start > 0xFFFF) {
    *error = "table area beyond 64 KiB";
    return {};
  }

  uint8_t h[vorlane::kFstHeaderSize] = {};
  h[vorlane::kHdrTableStart] = vorlane::kFstHeaderSize;
  h[vorlane::kHdrFileType] = desc.file_type;
  h[vorlane::kHdrInfoOffset] = vorlane::kFstHeaderSize;
  h[vorlane::kHdrLanguage] = desc.language;
  vorlane::put_be32(h + vorlane::kHdrWord, desc.header_word);
  vorlane::put_be16(h + vorlane::kHdrShortTable, static_cast<uint16_t>(short_table));
  vorlane::put_be16(h + vorlane::kHdrMediumTable, static_cast<uint16_t>(medium_table));
  vorlane::put_be16(h + vorlane::kHdrTransStart, static_cast<uint16_t>(trans_start));
  vorlane::put_be16(h + vorlane::kHdrAlphabet, static_cast<uint16_t>(alphabet));
  h[vorlane::kHdrEsc] = desc.esc;
  h[vorlane::kHdrShortOp] = desc.short_op;
  h[vorlane::kHdrMediumOp] = desc.medium_op;
  h[vorlane::kHdrLongOp] = desc.long_op;
  h[vorlane::kHdrAlphabase] = desc.alphabase;
  vorlane::put_be16(h + vorlane::kHdrClassList, static_cast<uint16_t>(class_list));
  h[vorlane::kHdrFormatFlags] = desc.format_flags;
  h[vorlane::kHdrTableLabel] = desc.table_label;
  vorlane::put_be16(h + vorlane::kHdrNetList, static_cast<uint16_t>(net_list));
  h[vorlane::kHdrEscStep] = desc.esc_step;
  h[vorlane::kHdrNetCount] = static_cast<uint8_t>(desc.nets.size());
  h[vorlane::kHdrProperty] = desc.property;
  uint8_t table_flag = vorlane::kFstCodingTableSize | (desc.table_offsets ? vorlane::kFstCodingTableOffsets : 0);
  h[vorlane::kHdrCodingFlags] = static_cast<uint8_t>(desc.coding_flags | (trans.has_tables_ ? table_flag : 0));
  h[vorlane::kHdrEpsLabel] = desc.eps_label;
  vorlane::put_be16(h + vorlane::kHdrCharTable, static_cast<uint16_t>(char_table));
  h[vorlane::kHdrPointerWidth] = desc.pointer_width;
  vorlane::put_be16(h + vorlane::kHdrFunctionTable, static_cast<uint16_t>(function_table));
  vorlane::put_be32(h + vorlane::kHdrTransLength, static_cast<uint32_t>(trans.bytes_.size()));
  h[vorlane::kHdrAlphabetCount] = 1;
  h[vorlane::kHdrNidLabel] = desc.nid_label;
  vorlane::put_be16(h + vorlane::kHdrNames, static_cast<uint16_t>(names_offset));
  if (desc.nets.size() > 255) {
    *error = "more than 255 nets";
    return {};
  }

  std::vector<uint8_t> image(h, h + vorlane::kFstHeaderSize);
  image.insert(image.end(), area.bytes.begin(), area.bytes.end());
  image.insert(image.end(), trans.bytes_.begin(), trans.bytes_.end());
  return image;
}

bool fst_write_file(const std::string& path, const FileDesc& desc, std::string* error) {
  std::vector<uint8_t> image = fst_write_image(desc, error);
  if (image.empty()) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    if (error) *error = "cannot create " + path;
    return false;
  }
  bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok && error) *error = "cannot write " + path;
  return ok;
}

}  // namespace vorlane::fstw
