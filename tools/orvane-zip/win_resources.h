// The resources a packed Windows launcher keeps: the launcher's own, less an archive it carries
// already, with the course's icon (--icon) and title (--title) in place of the launcher's.
#pragma once

#include <string>
#include <vector>

#include "tools/orvane-zip/byte_source.h"
#include "tools/orvane-zip/pack.h"
#include "tools/orvane-zip/pe_image.h"

namespace orvanezip {

// The resources for the packed launcher. --icon FILE.ico replaces every icon group and icon
// (RT_GROUP_ICON, RT_ICON) with the file's, under the first group's name, so Explorer shows it;
// --title TEXT sets FileDescription and ProductName of the version resource (RT_VERSION),
// which the launcher carries. False with the problem named.
bool LauncherResources(const PeImage& image, const ByteSource& launcher, const PackRequest& request,
                       std::vector<ResourceItem>* resources, std::wstring* error);

// The version resource `block` with the strings of every string table named `key` set to
// `value` (added where missing). False when the block is not a version resource.
bool SetVersionString(std::vector<unsigned char>* block, const std::u16string& key, const std::u16string& value);

}  // namespace orvanezip
