#include "bundle/image_store.h"

#include <cstdio>

#include "bundle/image_store_trace.h"

namespace hlv {
namespace tp = trace_points::image_store;
namespace {

// Without a checker no image is accepted, as if its type were not recognised.
inline constexpr uint32_t kImageNotChecked = kStatusImageTypeUnknown;

// A name the database gives must stay inside the bundle: one that climbs out through ".." could
// make the tool flash a file somebody else put anywhere on the machine. A name that begins with
// "/" is joined to the bundle directory like any other, and names of files in the bundle's
// subfolders are fine. Null when the name is fine, else why it is refused.
const char* refusalOf(const std::string& fileName) {
  std::size_t start = 0;
  while (start <= fileName.size()) {
    std::size_t end = fileName.find('/', start);
    if (end == std::string::npos) end = fileName.size();
    if (fileName.compare(start, end - start, "..") == 0) {
      return "it has a \"..\" component, which could lead out of the bundle";
    }
    start = end + 1;
  }
  return nullptr;
}

}  // namespace

ImageStore::ImageStore(std::string bundlePath, std::unique_ptr<VoFlUpdateIface> checker)
    : bundlePath_(std::move(bundlePath)), checker_(std::move(checker)) {}

std::shared_ptr<VoImageFile> ImageStore::getImage(const std::string& fileName,
                                                  ImageRefusal* refusal) {
  for (const auto& [name, image] : images_) {
    if (name == fileName) {
      trace::emit(tp::kCacheHit, fileName);
      return image;
    }
  }
  trace::emit(tp::kCacheMiss, fileName);
  ImageRefusal why;
  std::shared_ptr<VoImageFile> image = loadImage(fileName, why);
  if (!image) {
    if (refusal != nullptr) *refusal = why;
    return nullptr;
  }
  images_.emplace_back(fileName, image);
  const FirmwareVersion& version = image->version();
  trace::emit(tp::kImageLoaded, image->fileName(), version.major, version.minor, version.build,
              image->type());
  return image;
}

std::shared_ptr<VoImageFile> ImageStore::loadImage(const std::string& fileName,
                                                   ImageRefusal& refusal) {
  refusal.unreadable = true;
  if (const char* why = refusalOf(fileName)) {
    std::printf("[!] Couldn't read file '%s' \n", fileName.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "[!] Image file name '%s' refused: %s \n", fileName.c_str(), why);
    trace::emit(tp::kImageNameRefused, fileName, why);
    return nullptr;
  }
  std::string path = bundlePath_;
  if (!path.empty() && path.back() != '/') path += '/';
  path += fileName;

  auto image = std::make_shared<VoImageFile>(path);
  if (image->size() == 0) {
    std::printf("[!] Couldn't read file '%s' \n", fileName.c_str());
    trace::emit(tp::kImageNotRead, path);
    return nullptr;
  }
  // Nothing is printed for a rejected image: the adapters that wanted it show "Not available".
  const uint32_t check = checker_ ? checker_->inspectImage(*image) : kImageNotChecked;
  refusal = {false, check};
  if (check != 0) {
    trace::emit(tp::kImageRejected, image->fileName(), check);
    return nullptr;
  }
  // What was offered, exactly, for the run's report.
  image->setDigest(sha256({image->data(), image->size()}));
  return image;
}

}  // namespace hlv
