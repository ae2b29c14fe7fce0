#include "engine/record_stream.h"

#include "engine/record_stream_trace.h"
#include "shared/little_endian.h"

namespace hlv {
namespace tp = trace_points::record_stream;

namespace {

class WordReader {
 public:
  WordReader(std::span<const uint8_t> stream, uint8_t wordBytes)
      : stream_(stream), wordBytes_(wordBytes) {}

  bool next(uint32_t& word) {
    if (stream_.size() - position_ < wordBytes_) {
      trace::emit(tp::kPastEnd, static_cast<uint32_t>(position_),
                  static_cast<uint32_t>(stream_.size()));
      return false;
    }
    const uint8_t* p = stream_.data() + position_;
    word = wordBytes_ == 4 ? loadLe32(p) : loadLe16(p);
    position_ += wordBytes_;
    return true;
  }
  uint32_t position() const { return static_cast<uint32_t>(position_); }

 private:
  std::span<const uint8_t> stream_;
  uint8_t wordBytes_;
  std::size_t position_ = 0;
};

uint32_t sectionTypeOf(uint32_t word) {
  return word & 0x7F;
}
uint32_t optionalWordBits(uint32_t word) {
  return (word >> 13) & 0x7;  // bits 7:5 of the second byte
}
uint32_t groupArgumentOf(uint32_t word) {
  return (word >> 2) & 0x1F;
}

}  // namespace

int walkRecordStream(std::span<const uint8_t> stream, const RecordStreamFormat& format,
                     RecordEntryVisitor visit, uint32_t& consumed) {
  WordReader reader(stream, format.wordBytes);
  auto finish = [&](int result) {
    consumed = reader.position();
    if (result == kRecordStreamEnded) trace::emit(tp::kEnded, consumed);
    return result;
  };

  uint32_t word = 0;
  if (!reader.next(word)) return finish(kRecordStreamError);
  const uint32_t streamType = sectionTypeOf(word);
  if (streamType != format.firstTypes[0] && streamType != format.firstTypes[1]) {
    trace::emit(tp::kOtherFirstType, word);
    return finish(kRecordStreamEnded);
  }

  // `word` holds a section header here.
  for (;;) {
    const uint32_t sectionArgument = (word >> 8) & 0x1F;
    const uint32_t optionalWords = optionalWordBits(word);
    trace::emit(tp::kSection, sectionTypeOf(word), sectionArgument, optionalWords);
    // Optional words carry some of bits 7:5 of their second byte; the first word without
    // them is already the group header.
    bool haveGroupHeader = false;
    for (uint32_t i = 0; i < optionalWords; ++i) {
      if (!reader.next(word)) return finish(kRecordStreamError);
      if (optionalWordBits(word) == 0) {
        haveGroupHeader = true;
        break;
      }
    }
    if (!haveGroupHeader && !reader.next(word)) return finish(kRecordStreamError);

    // `word` holds a group header here.
    for (;;) {
      RecordEntry entry{};
      entry.sectionType = streamType;
      entry.sectionArgument = sectionArgument;
      entry.groupArgument = groupArgumentOf(word);
      const uint32_t count = ((word & 0xFFFF) >> 7) & 0x1FF;
      trace::emit(tp::kGroup, entry.groupArgument, count);
      for (uint32_t i = 0; i < count; ++i) {
        if (!reader.next(entry.index) || !reader.next(entry.second) || !reader.next(entry.third))
          return finish(kRecordStreamError);
        const int verdict = visit(entry);
        if (verdict == kRecordFail) {
          trace::emit(tp::kVisitorFailed, entry.index);
          return finish(kRecordStreamError);
        }
        if (verdict != kRecordContinue) {
          trace::emit(tp::kVisitorStopped, entry.index);
          return finish(kRecordStreamEnded);
        }
      }
      if (!reader.next(word)) return finish(kRecordStreamError);
      if (word == 0) return finish(kRecordStreamEnded);
      if (sectionTypeOf(word) == format.continuationType) {
        if (sectionTypeOf(word) != streamType) {
          trace::emit(tp::kOtherSection, sectionTypeOf(word), streamType);
          return finish(kRecordStreamEnded);
        }
        break;  // a new section of the same type
      }
      if (groupArgumentOf(word) == 0) {
        trace::emit(tp::kBadWord, word, reader.position() - format.wordBytes);
        return finish(kRecordStreamError);
      }
    }
  }
}

int applyMaskedWrite(SettingsBlock& block, const RecordEntry& entry) {
  if (entry.index >= block.size()) {
    trace::emit(tp::kIndexSkipped, entry.index);
    return kRecordContinue;
  }
  uint32_t& target = block[entry.index];
  target = (target & ~entry.second) | (entry.second & entry.third);
  return kRecordContinue;
}

int applyPatchRecords(std::span<const uint8_t> stream, PatchEntryFunction entryFunction,
                      SettingsBlock& block, uint32_t& consumed) {
  return walkRecordStream(
      stream, kRecordStream32,
      [&](const RecordEntry& entry) { return entryFunction(block, entry); }, consumed);
}

}  // namespace hlv
