#include "bench/bench_lab.h"

#include <fstream>
#include <vector>

#include "sim/lab_writer.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::bench {
namespace {

constexpr char kBundleImage[] = "fw_20c3_1.6.2.bin";

// The board of the demo: a subsystem the tool updates (the maker's own 0x0001 it never does).
constexpr uint16_t kSubsystemVendor = 0x1028;
constexpr uint16_t kSubsystemDevice = 0x1F70;

constexpr char kDatabase[] = R"(<?xml version="1.0"?>
<bdpDatabase>
  <version>bench</version>
  <bdp id="model-20c3">
    <hwids><hwid vid="1E9C" did="20C3" sdid="1F70" svid="1028"/></hwids>
    <mac>020000008C00000005000000FF0000001200000000000000</mac>
    <phy>0300880007000F0001000000</phy>
    <image>fw_20c3_1.6.2.bin</image>
  </bdp>
</bdpDatabase>
)";

Result<> writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) return fail(path + ": cannot write");
  return {};
}

}  // namespace

Result<> writeBenchLab(const std::string& root, const BenchLab& lab) {
  sim::AdapterConfig config;
  config.jedecId = lab.jedecId;
  sim::LabDescription description = sim::defaultLab(lab.adapters, config);
  for (sim::LabFunction& function : description.adapters) {
    function.subsystemVendorId = kSubsystemVendor;
    function.subsystemDeviceId = kSubsystemDevice;
  }
  if (Result<> written = sim::writeLab(root, description); !written) return written;

  image::ImageSpec flash = lab.typeOneLayout ? image::typeOneFlashSpec() : image::ImageSpec();
  flash.ncbs[0].firmware.version = {1, 5, 90};
  flash.imageSize = lab.capacity;  // the rest of a larger part stays erased
  const std::vector<uint8_t> flashBytes = image::buildImage(flash);
  for (const sim::LabFunction& function : description.adapters) {
    const std::string path = root + "/adapters/" + function.bdf + "/flash.bin";
    if (Result<> written = writeFile(path, flashBytes); !written) return written;
  }

  image::ImageSpec update;
  update.ncbs[0].firmware.version = {1, 6, 2};
  update.ncbs[0].seed = 7;
  if (Result<> written = writeFile(root + "/tool/" + kBundleImage, image::buildImage(update));
      !written) {
    return written;
  }
  std::ofstream database(root + "/tool/updatedata.xml", std::ios::trunc);
  database << kDatabase;
  database.close();
  if (!database) return fail(root + "/tool/updatedata.xml: cannot write");
  return {};
}

}  // namespace hlv::bench
