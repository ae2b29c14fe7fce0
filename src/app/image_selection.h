// The firmware image an adapter is to receive, with its board's configuration bytes.
#pragma once

#include "app/adapter_entry.h"
#include "bundle/bdp_lookup.h"
#include "bundle/image_store.h"
#include "bundle/update_database.h"

namespace hlv {

// Finds the adapter's board entry and fetches its image from the store. On success the entry's
// selectedImage, macData and phyData are set. False when no board entry names the adapter or its
// image cannot be had; the entry's image is then none. An entry whose status is already other
// than Available has been settled and is left as it is (true).
bool selectImage(AdapterEntry& entry, const UpdateDatabase& database, ImageStore& store,
                 SystemInfoCache& cache);

}  // namespace hlv
