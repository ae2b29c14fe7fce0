// Record streams: the patch records in a firmware header and the configuration records kept in
// in-block areas. A stream is a series of sections; a section header is followed by up to k
// optional words and a group header; a group header carries an argument and a count of
// entries of three words each (index, second, third). After a group's entries come a zero word
// (the end), a new section header, or a new group header.
//
// Words are 32 bits (section types 2 or 4) or 16 bits (section type 3), little-endian. In
// both, a section header has the section type in bits 6:0 of its first byte, the section
// argument in bits 4:0 of its second byte and the number of optional words in bits 7:5 of the
// second byte; a group header has its argument in bits 6:2 of the first byte and the entry
// count in bits 15:7.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>

namespace hlv {

struct RecordStreamFormat {
  uint8_t wordBytes;         // 4 or 2
  uint8_t firstTypes[2];     // section types a stream may begin with
  uint8_t continuationType;  // the type a later section header carries
};
// Patch records of a firmware header and the records of areaD.
inline constexpr RecordStreamFormat kRecordStream32{4, {2, 4}, 2};
// The records of areaE.
inline constexpr RecordStreamFormat kRecordStream16{2, {3, 3}, 3};

struct RecordEntry {
  uint32_t sectionType;
  uint32_t sectionArgument;
  uint32_t groupArgument;
  uint32_t index;
  uint32_t second;  // the mask of a patch record
  uint32_t third;   // the value of a patch record
};

// What an entry visitor returns.
inline constexpr int kRecordContinue = 0;
inline constexpr int kRecordFail = -1;  // any other value stops the walk without error

// What a walk returns.
inline constexpr int kRecordStreamEnded = 0;
inline constexpr int kRecordStreamError = -1;

// A non-owning reference to a callable `int(const RecordEntry&)`.
class RecordEntryVisitor {
 public:
  template <class F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, RecordEntryVisitor>)
      RecordEntryVisitor(F&& function)  // NOLINT: implicit by design
      : object_(const_cast<void*>(static_cast<const void*>(&function))),
        call_([](void* object, const RecordEntry& entry) -> int {
          return (*static_cast<std::remove_reference_t<F>*>(object))(entry);
        }) {}
  int operator()(const RecordEntry& entry) const { return call_(object_, entry); }

 private:
  void* object_;
  int (*call_)(void*, const RecordEntry&);
};

// Walks the stream and hands every entry to `visit`. kRecordStreamEnded when the stream ended
// with its zero word, with a section of another type than the first, with a first word that
// is no section of the format, or when the visitor stopped it; kRecordStreamError on a format
// error, on reading past the stream, or when the visitor failed. `consumed` receives the bytes
// read.
int walkRecordStream(std::span<const uint8_t> stream, const RecordStreamFormat& format,
                     RecordEntryVisitor visit, uint32_t& consumed);

// The firmware's 512-byte settings block as 128 words.
using SettingsBlock = std::array<uint32_t, 128>;
using PatchEntryFunction = int (*)(SettingsBlock& block, const RecordEntry& entry);

// Masked write of one patch entry: word[index] = (word[index] & ~mask) | (mask & value). An
// index beyond the block is skipped.
int applyMaskedWrite(SettingsBlock& block, const RecordEntry& entry);

// Walks a 32-bit patch stream, applying each entry to the block with `entryFunction`.
// Returns what walkRecordStream returns.
int applyPatchRecords(std::span<const uint8_t> stream, PatchEntryFunction entryFunction,
                      SettingsBlock& block, uint32_t& consumed);

}  // namespace hlv
