#include "tests/engine/flash_doubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>

namespace hlv::test {

std::ostream& operator<<(std::ostream& out, const FlashCall& call) {
  static const char* const kNames[] = {"read", "write", "eraseSector", "eraseBlock"};
  return out << kNames[static_cast<int>(call.kind)] << "(0x" << std::hex << call.address << ", 0x"
             << call.length << std::dec << ")";
}

NorMemoryFlash::NorMemoryFlash(const Geometry& geometry) : contents(geometry.flashSize, 0xFF) {
  pageSize = geometry.pageSize;
  sectorSize = geometry.sectorSize;
  blockSize = geometry.blockSize;
  blockEraseSupported = geometry.blockEraseSupported;
  flashSize = geometry.flashSize;
}

bool NorMemoryFlash::read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) {
  bytesRead = 0;
  if (static_cast<uint64_t>(address) + length > contents.size()) return false;
  if (length != 0) std::memcpy(buffer, contents.data() + address, length);
  bytesRead = length;
  return true;
}

bool NorMemoryFlash::write(uint32_t address, const uint8_t* buffer, uint32_t length,
                           uint32_t& bytesWritten) {
  bytesWritten = 0;
  if (static_cast<uint64_t>(address) + length > contents.size()) return false;
  for (uint32_t i = 0; i < length; ++i)
    contents[address + i] &= buffer[i];
  bytesWritten = length;
  return true;
}

bool NorMemoryFlash::erase(uint32_t address, uint32_t unit) {
  if (unit == 0 || address % unit != 0 || static_cast<uint64_t>(address) + unit > contents.size())
    return false;
  std::fill_n(contents.begin() + address, unit, 0xFF);
  return true;
}

bool NorMemoryFlash::eraseSector(uint32_t address) {
  return erase(address, sectorSize);
}

bool NorMemoryFlash::eraseBlock(uint32_t address) {
  EXPECT_TRUE(blockEraseSupported) << "eraseBlock on a part without block erase";
  return blockEraseSupported && erase(address, blockSize);
}

void copyGeometry(const VoFlashControlInterface& from, VoFlashControlInterface& to) {
  to.flashId = from.flashId;
  to.pageSize = from.pageSize;
  to.sectorSize = from.sectorSize;
  to.blockSize = from.blockSize;
  to.flashSize = from.flashSize;
  to.blockEraseSupported = from.blockEraseSupported;
}

FlashDecorator::FlashDecorator(VoFlashControlInterface& inner) : inner_(inner) {
  copyGeometry(inner, *this);
}

bool FlashDecorator::init() {
  return inner_.init();
}

void FlashDecorator::failCalls(FlashCall::Kind kind, int n, int count) {
  failCallsIn(kind, 0, UINT32_MAX, n, count);
}

void FlashDecorator::failCallsIn(FlashCall::Kind kind, uint32_t begin, uint32_t end, int n,
                                 int count) {
  failures_[kind] = {begin, end, n, count};
}

bool FlashDecorator::shouldFail(FlashCall::Kind kind, uint32_t address) {
  auto found = failures_.find(kind);
  if (found == failures_.end()) return false;
  Failure& failure = found->second;
  if (address < failure.begin || address >= failure.end) return false;
  if (--failure.left > 0) return false;
  if (--failure.count <= 0) failures_.erase(found);
  return true;
}

std::vector<FlashCall> FlashDecorator::callsOf(FlashCall::Kind kind) const {
  std::vector<FlashCall> result;
  std::copy_if(calls.begin(), calls.end(), std::back_inserter(result),
               [kind](const FlashCall& call) { return call.kind == kind; });
  return result;
}

bool FlashDecorator::read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) {
  calls.push_back({FlashCall::Kind::kRead, address, length});
  if (shouldFail(FlashCall::Kind::kRead, address)) {
    bytesRead = 0;
    return false;
  }
  const bool ok = inner_.read(address, buffer, length, bytesRead);
  if (ok && corruptReadAt && *corruptReadAt >= address && *corruptReadAt - address < length)
    buffer[*corruptReadAt - address] ^= 0xFF;
  return ok;
}

bool FlashDecorator::write(uint32_t address, const uint8_t* buffer, uint32_t length,
                           uint32_t& bytesWritten) {
  calls.push_back({FlashCall::Kind::kWrite, address, length});
  if (shouldFail(FlashCall::Kind::kWrite, address)) {
    bytesWritten = 0;
    return false;
  }
  if (corruptWriteAt && *corruptWriteAt >= address && *corruptWriteAt - address < length) {
    std::vector<uint8_t> altered(buffer, buffer + length);
    altered[*corruptWriteAt - address] ^= 0xFF;
    return inner_.write(address, altered.data(), length, bytesWritten);
  }
  return inner_.write(address, buffer, length, bytesWritten);
}

bool FlashDecorator::eraseSector(uint32_t address) {
  calls.push_back({FlashCall::Kind::kEraseSector, address, sectorSize});
  if (shouldFail(FlashCall::Kind::kEraseSector, address)) return false;
  return inner_.eraseSector(address);
}

bool FlashDecorator::eraseBlock(uint32_t address) {
  calls.push_back({FlashCall::Kind::kEraseBlock, address, blockSize});
  if (shouldFail(FlashCall::Kind::kEraseBlock, address)) return false;
  return inner_.eraseBlock(address);
}

namespace {
sim::AdapterConfig configFor(uint32_t jedecId) {
  sim::AdapterConfig config;
  config.jedecId = jedecId;
  config.timings = sim::quickTimings();
  return config;
}
}  // namespace

EmulatedFlash::EmulatedFlash(uint32_t jedecId)
    : AdapterRig(configFor(jedecId), TrafficCheck::kExpectClean, "the emulated flash"),
      flash(std::make_unique<VoApiFlashControl>(&adapter)) {
  EXPECT_TRUE(flash->init()) << "emulated part " << std::hex << jedecId;
}

EmulatedFlash::~EmulatedFlash() {
  flash.reset();  // releases the flash interface before the adapter goes
}

void EmulatedFlash::load(const std::vector<uint8_t>& bytes) {
  ASSERT_LE(bytes.size(), adapter.flash().size());
  std::copy(bytes.begin(), bytes.end(), adapter.flash().begin());
}

std::vector<uint8_t> EmulatedFlash::contents() const {
  return {adapter.flash().begin(), adapter.flash().end()};
}

}  // namespace hlv::test
