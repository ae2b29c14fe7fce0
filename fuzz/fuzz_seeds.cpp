// Writes the seed corpus of every fuzz target, from the project's own builders: image
// descriptions (the presets hlvimage builds, with small components so that a seed stays short),
// the images they build, a trace file the engine writes while it reads them, adapter.conf texts
// the emulator formats, the sample update database, sysfs attributes as the kernel words them and
// a rollback journal as a rollback writes it.
//
//   hlv_fuzz_seeds OUTDIR SOURCEDIR
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/rollback_journal.h"
#include "sim/adapter_conf.h"
#include "tools/hlvimage/image_builder.h"
#include "tools/hlvimage/image_description.h"
#include "tools/hlvimage/image_report.h"
#include "trace/trace_sink.h"

namespace {

// Presets as descriptions. Every component small and in bank A, so that the interesting bytes
// of an image lie in its first 64 KiB.
const char* const kSmallComponents =
    "mac1_size = 0x200\nmac2_size = 0x400\nphy1_size = 0x200\nphy2_size = 0x100\n"
    "rom_size = 0x300\nncb1.mac1_offset = 0xA000\nncb1.mac2_offset = 0xA200\n"
    "ncb1.phy1_offset = 0xA600\nncb1.phy2_offset = 0xA800\nncb1.rom_offset = 0xA900\n";

const char* const kDescriptions[] = {
    "",
    ("ncb0 = deactivated\nncb1 = active\nncb0.version = 1.5.86\nncb1.version = 1.6.2\n"
     "device_id = 0x21C3\nncb0.rom_crc = bad\n"),
    "ncb0 = active\nncb1 = active\nncb0.version = 1.5.90\nncb1.version = 1.6.2\n",
    "ncb1 = active01\nncb0 = erased\nversion = 2.1.7\ndevice_id = 0xA2C3\n",
    "layout = type1\n",
    "free = 0x20000 0x1000\nncb0.magic = yes\n",
    "patch = 13 0xFF00 0x0600\npatch = 14 0x00FF 0x0002\nsettings_version = 1.6.3\n",
    "header_offset = 8\nsettings_word = 13 0x0105\nkey = no\n",
    "area_a = bytes 01020304\narea_d = record\narea_d_flag = yes\narea_e_flag = yes\n",
    "crc = bad\nmac_crc = 0x1234\nsize = 0x80\n",
    "image_tag = 0x3FFF\nimage_version = 0x010203\nset = 0x70 55aa55aa\n",
};

void writeFile(const std::string& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) {
    std::fprintf(stderr, "hlv_fuzz_seeds: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

void writeText(const std::string& path, const std::string& text) {
  writeFile(path, text.data(), text.size());
}

std::string corpus(const std::string& out, const char* target) {
  const std::string directory = out + "/" + target;
  mkdir(out.c_str(), 0755);
  mkdir(directory.c_str(), 0755);
  return directory + "/";
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: hlv_fuzz_seeds OUTDIR SOURCEDIR\n");
    return 2;
  }
  const std::string out = argv[1];
  const std::string source = argv[2];
  const std::string descriptions = corpus(out, "image_description");
  const std::string images = corpus(out, "flash_image");
  const std::string traces = corpus(out, "trace_decoder");

  hlv::trace::traceEnable("hlv_fuzz_seeds");
  // The trace sink only ever creates its file new: one an earlier build left goes first.
  std::remove((traces + "engine.etl").c_str());
  hlv::trace::traceOpen(traces + "engine.etl");
  int index = 0;
  for (const char* description : kDescriptions) {
    const std::string text = std::string(kSmallComponents) + description;
    const std::string name = "preset" + std::to_string(index++);
    writeText(descriptions + name, text);
    hlv::image::ImageSpec spec;
    const hlv::Result<> parsed = hlv::image::parseImageDescription(text, spec);
    if (!parsed) {
      std::fprintf(stderr, "hlv_fuzz_seeds: preset %s: %s\n", name.c_str(),
                   parsed.error().c_str());
      return 1;
    }
    std::vector<uint8_t> image = hlv::image::buildImage(spec);
    // The target pads with erased bytes: the trailing ones need not be in the seed.
    while (!image.empty() && image.back() == 0xFF)
      image.pop_back();
    writeFile(images + name, image.data(), image.size());
    hlv::image::analyzeImage(image, image.size());  // traced: the trace decoder's seed
  }
  hlv::trace::traceClose();
  writeText(descriptions + "readme_picture", readText(source + "/doc/flash-map.desc"));

  const std::string database = corpus(out, "update_database");
  writeText(database + "sample", readText(source + "/packaging/sample-bundle/updatedata.xml"));
  writeText(database + "minimal",
            "<bdpDatabase><bdp id=\"a\"><hwids><id vid=\"1E9C\" did=\"20C3\" sdid=\"0002\" "
            "svid=\"1E9C\"/></hwids><mac>A1B2</mac><phy>00</phy><image>fw.bin</image></bdp>"
            "<alias id=\"b\"><hwids><id vid=\"1E9C\" did=\"21C3\" sdid=\"0003\" svid=\"1E9C\"/>"
            "</hwids><systemid>BOARD</systemid><bdpid>a</bdpid></alias></bdpDatabase>\n");

  const std::string conf = corpus(out, "adapter_conf");
  hlv::sim::AdapterConfig config;
  writeText(conf + "default", hlv::sim::formatAdapterConf(config));
  config.jedecId = 0x1F2700;
  config.powerCutAfter = 12;
  config.powerCutTorn = true;
  config.tornSeed = 99;
  config.timings.engineJitterNs = 5000;
  config.firmware.kind = hlv::sim::FirmwareKind::kInterface2;
  config.firmware.fuseStatus = 0x1000;
  config.firmware.fuseDigest[0] = 0xAB;
  config.firmware.mdioSemaphoreHeld = true;
  writeText(conf + "torn", hlv::sim::formatAdapterConf(config));
  writeText(conf + "generic", "flash = EF7099\ncapacity = 0x400000\nsfdp = 1.0\n"
                              "sfdp_volatile_status = yes\nprotected = yes # locked\n");

  const std::string sysfs = corpus(out, "sysfs");
  const std::string ids = std::string("0x1e9c\n") + '\0' + "0x20c3\n" + '\0' + "0x1028\n" +
                          '\0' + "0x1f70\n" + '\0';
  std::string resource;
  resource += "0x00000000fe000000 0x00000000fe3fffff 0x0000000000040200\n";
  for (int line = 1; line < 6; ++line)
    resource += "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
  writeText(sysfs + "adapter", ids + resource + '\0' + "2.4.1\n");
  writeText(sysfs + "empty", std::string(5, '\0'));

  const std::string journals = corpus(out, "rollback_journal");
  hlv::RollbackJournal journal;
  journal.sequence = 7;
  journal.pciAddress = "0000:01:00.0";
  journal.plan = {0x1560EF, 0x200000, 0x1000, 0x0, 0x4000, {1, 6, 2}, {1, 5, 86}};
  journal.backup = "20261211_05-00-00/image_enp1s0_rollback.bin";
  writeText(journals + "rollback", hlv::formatRollbackJournal(journal));
  return 0;
}
