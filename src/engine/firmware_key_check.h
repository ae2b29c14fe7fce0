// The signing-key fuse check: some chips carry, in one-time-programmable fuses, the SHA-256 digest
// of the key firmware images must be signed with. Before an image is offered to such an adapter
// the digest is read out of the fuses (through the fuse semaphore, the serial test port and the
// fuse read port) and compared with the digest of the image's key block.
#pragma once

#include <cstdint>
#include <span>

#include "device/voregcontrolinterface.h"

namespace hlv {

// True when the image may be written: the chip has no key fuses (its revision is not 0x10A, and
// then no other register is touched), the fuses say no key is fused (status bit clear, or all
// digest words zero), or the fused digest equals the image's key digest. False when the fuse
// semaphore is not granted within 0.5 s (nothing else is touched then), when the image carries
// no key block, or when the digests differ. The semaphore is released on every path that took it.
bool checkFirmwareKey(VoRegControlInterface& regCtrl, std::span<const uint8_t> image);

// Fuse words as lane * 32 + index.
inline constexpr uint8_t kFuseStatusWord = 1 * 32 + 0x1E;
inline constexpr uint8_t kKeyDigestFuseWords[] = {0x67, 0x68, 0x69, 0x79, 0x7A, 0x7B, 0x7C, 0x7D};
// Bit of the status word that says a key digest is fused.
inline constexpr uint32_t kFuseStatusKeyFused = 0x1000;

}  // namespace hlv
