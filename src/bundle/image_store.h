// The firmware images of the update bundle, each loaded and checked at most once while the adapter
// list is built, and shared by every adapter that takes it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bundle/vo_image_file.h"
#include "update/voflupdateiface.h"

namespace hlv {

// Why an image could not be had.
struct ImageRefusal {
  bool unreadable = false;  // the file could not be read, or its name leaves the bundle
  uint32_t status = 0;      // otherwise the image check's status (not 0)
};

class ImageStore {
 public:
  // bundlePath is the directory the image files lie in ("/" after it is optional). The checker is
  // an update interface bound to no adapter; only its image check is used.
  ImageStore(std::string bundlePath, std::unique_ptr<VoFlUpdateIface> checker);
  ImageStore(const ImageStore&) = delete;
  ImageStore& operator=(const ImageStore&) = delete;

  // The image file of that name (joined to the bundle directory, even when it begins with "/"),
  // read and accepted by the image check; null when it cannot be read (after "[!] Couldn't read
  // file '<name>' ") or is rejected. A name with a ".." component is refused unread, with the
  // same line and, on standard error, why. A failure is not remembered: the next request tries
  // the file again. On failure `refusal`, when given, says why.
  std::shared_ptr<VoImageFile> getImage(const std::string& fileName,
                                        ImageRefusal* refusal = nullptr);

 private:
  std::shared_ptr<VoImageFile> loadImage(const std::string& fileName, ImageRefusal& refusal);

  // Keyed by the name as it was asked for: "sub/fw.bin" and "fw.bin" are different files even
  // though the name part of their paths is the same.
  std::vector<std::pair<std::string, std::shared_ptr<VoImageFile>>> images_;
  std::string bundlePath_;
  std::unique_ptr<VoFlUpdateIface> checker_;
};

}  // namespace hlv
