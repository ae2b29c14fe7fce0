// The flash control interface on the adapter's flash command engine.
//
// One object lives for one engine call. `init` claims the process-wide flash interface (only
// one object may own it at a time), saves the registers a flash session changes, identifies the
// part and loads its parameters; the destructor restores the saved registers and releases the
// interface. While an object owns the interface the operator's interrupt is held back, so that
// the process never ends with the registers unrestored.
#pragma once

#include <cstdint>

#include "device/voregcontrolinterface.h"
#include "flashctl/flash_params.h"
#include "flashctl/flash_protocol.h"
#include "flashctl/flash_register_access.h"
#include "flashctl/flash_status.h"
#include "flashctl/voflashcontrolinterface.h"

namespace hlv {

class VoApiFlashControl : public VoFlashControlInterface {
 public:
  // The register access object is not owned and must outlive this object.
  explicit VoApiFlashControl(VoRegControlInterface* regCtrl);
  ~VoApiFlashControl() override;
  VoApiFlashControl(const VoApiFlashControl&) = delete;
  VoApiFlashControl& operator=(const VoApiFlashControl&) = delete;

  bool init() override;
  bool read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) override;
  bool write(uint32_t address, const uint8_t* buffer, uint32_t length,
             uint32_t& bytesWritten) override;
  bool eraseSector(uint32_t address) override;
  // Only when blockEraseSupported: calling it otherwise is a programming error.
  bool eraseBlock(uint32_t address) override;

  // Each operation needs a successful init first; without one it fails and touches nothing.

  // Told of the bytes read, programmed and erased from now on (null: nobody). Not owned.
  void setProgressObserver(FlashProgressObserver* observer) { context_.progress = observer; }

  VoRegControlInterface* registers() const { return regCtrl_; }
  FlashPartType flashType() const { return flashType_; }
  const FlashParams& params() const { return params_; }
  bool initialized() const { return initialized_; }

  // The clock setting init opens the interface with.
  static constexpr uint8_t kClockSetting = 0x10;

 private:
  bool usable() const;
  bool rangeInFlash(uint32_t address, uint32_t length) const;
  FlashStatus erase(uint16_t opcode, uint32_t unitSize, uint32_t address);

  VoRegControlInterface* regCtrl_;
  FlashHwContext context_;
  FlashPartType flashType_ = kFlashPartUnknown;
  FlashParams params_;
  bool initialized_ = false;
  SavedFlashRegisters saved_;
  bool registersSaved_ = false;
  bool holdsInterrupts_ = false;
};

}  // namespace hlv
