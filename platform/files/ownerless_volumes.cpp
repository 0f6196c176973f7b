#include "platform/files/ownerless_volumes.hpp"

#include <cstdint>

namespace tolvan::files {
namespace {

// statfs f_type values.
constexpr uint32_t kOwnerlessVolumes[] = {
    0x4d44,      // FAT (msdos, vfat)
    0x2011BAB0,  // exFAT
    0x5346544e,  // NTFS
    0x7366746e,  // NTFS (ntfs3)
    0x65735546,  // FUSE (fuse, fuseblk)
    0x9660,      // ISO 9660
    0x15013346,  // UDF
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x01021997,  // 9p
};

}  // namespace

bool VolumeKeepsNoOwnership(const struct statfs &volume) noexcept {
  const auto type = static_cast<uint32_t>(volume.f_type);
  for (const uint32_t ownerless : kOwnerlessVolumes) {
    if (type == ownerless) return true;
  }
  return false;
}

}  // namespace tolvan::files
