#pragma once

#include <cstdint>
#include <string>

#include "platform/platform_services.h"

namespace autorun {
struct InstallerContext;
// 1 when the card's stamp is the greater, -1 when the smaller, 0 when equal or unreadable.
int compareVersionStamps(InstallerContext& context);
bool readVersionStamp(PlatformServices& platform, const std::u16string& path, std::uint32_t& stamp);
// Byte offset of the certificate-table entry among the file's first 512 bytes, or 0.
std::uint32_t findCertificateEntry(File& file);
int runUpgrade(InstallerContext& context);
int restoreBackedUpValues(InstallerContext& context);
}  // namespace autorun
