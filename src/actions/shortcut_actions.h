// Shortcut action kinds: link_name (with link_prg) and remove_link.
#pragma once

#include <string>
#include <string_view>

namespace autorun {

struct InstallerContext;

void runLinkActions(InstallerContext& context, std::u16string_view listName);
void runRemoveLinkActions(InstallerContext& context, std::u16string_view listName);
// Writes a shortcut file with the content 1#"target" in the device's code page.
bool createShortcut(InstallerContext& context, const std::u16string& linkPath,
                    const std::u16string& targetPath);

}  // namespace autorun
