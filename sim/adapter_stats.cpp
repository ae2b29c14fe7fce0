#include "sim/adapter_stats.h"

namespace hlv::sim {

std::string_view violationName(Violation kind) {
  switch (kind) {
    case Violation::kTransferWhileEngineBusy:
      return "transfer_while_engine_busy";
    case Violation::kRegisterWriteWhileEngineBusy:
      return "register_write_while_engine_busy";
    case Violation::kDataReadWhileEngineBusy:
      return "data_read_while_engine_busy";
    case Violation::kCommandWhilePartBusy:
      return "command_while_part_busy";
    case Violation::kNoWriteEnable:
      return "no_write_enable";
    case Violation::kWriteProtected:
      return "write_protected";
    case Violation::kPageCrossing:
      return "page_crossing";
    case Violation::kUnalignedErase:
      return "unaligned_erase";
    case Violation::kFormatMismatch:
      return "format_mismatch";
    case Violation::kCommandChangedInOpenTransfer:
      return "command_changed_in_open_transfer";
    case Violation::kAddressBeyondCapacity:
      return "address_beyond_capacity";
    case Violation::kUnknownOpcode:
      return "unknown_opcode";
    case Violation::kChipSelectHeldAtClose:
      return "chip_select_held_at_close";
    case Violation::kInterfaceNotEnabled:
      return "interface_not_enabled";
    case Violation::kAddressOutOfStep:
      return "address_out_of_step";
    case Violation::kMdioWithoutSemaphore:
      return "mdio_without_semaphore";
    case Violation::kMdioWhileBusy:
      return "mdio_while_busy";
    case Violation::kFuseWithoutSemaphore:
      return "fuse_without_semaphore";
    case Violation::kTestPortSequence:
      return "test_port_sequence";
    case Violation::kFirmwareResetOutOfOrder:
      return "firmware_reset_out_of_order";
    case Violation::kResetWithBlockRunning:
      return "reset_with_block_running";
    case Violation::kBlockStopOutOfOrder:
      return "block_stop_out_of_order";
    case Violation::kKeptBitsChanged:
      return "kept_bits_changed";
    case Violation::kSettleTimeTooShort:
      return "settle_time_too_short";
    case Violation::kReleaseWithoutHolding:
      return "release_without_holding";
    case Violation::kMdioNotSetUp:
      return "mdio_not_set_up";
    case Violation::kPhyRestartSequence:
      return "phy_restart_sequence";
    case Violation::kFuseStepTooShort:
      return "fuse_step_too_short";
    case Violation::kFusePortClosed:
      return "fuse_port_closed";
    case Violation::kCount:
      break;
  }
  return "unknown";
}

}  // namespace hlv::sim
