// LauncherResources: an .ico file as RT_ICON and RT_GROUP_ICON resources, and the version
// resource's tree of nodes (VS_VERSIONINFO, StringFileInfo, string tables, strings) read,
// changed and written again.
#include "tools/orvane-zip/win_resources.h"

#include <algorithm>

#include "amzip/little_endian.h"
#include "text/text.h"
#include "tools/orvane-zip/utf16.h"

namespace orvanezip {

using amzip::LoadU16;
using amzip::LoadU32;

namespace {

const ResourceKey kZipType{true, 0, u"RT_ZIP"};
constexpr std::uint16_t kZipId = 777;

bool IsType(const ResourceItem& item, std::uint16_t type) { return !item.type.named && item.type.id == type; }

// A version resource node: wLength, wValueLength, wType, the key (UTF-16, zero-ended), padding
// to 4, the value, padding to 4, the children.
struct VersionNode {
  std::u16string key;
  std::uint16_t type = 1;            // 1: text, 0: binary
  std::uint16_t valueLength = 0;     // as stored: words for text, bytes for binary
  std::vector<unsigned char> value;
  std::vector<VersionNode> children;
};

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

bool ParseNode(const unsigned char* data, std::size_t size, int depth, VersionNode* node) {
  if (size < 6 || depth > 4) return false;
  const std::size_t length = LoadU16(data);
  if (length < 6 || length > size) return false;
  node->valueLength = LoadU16(data + 2);
  node->type = LoadU16(data + 4);
  std::size_t at = 6;
  for (;; at += 2) {
    if (at + 2 > length) return false;
    const char16_t unit = static_cast<char16_t>(LoadU16(data + at));
    if (unit == 0) break;
    node->key += unit;
  }
  at = Align4(at + 2);
  // A text value counts its words (some writers count bytes): take what lies before the
  // children, within the node.
  std::size_t valueBytes = node->type == 1 ? 2u * node->valueLength : node->valueLength;
  valueBytes = std::min(valueBytes, length > at ? length - at : 0);
  node->value.assign(data + std::min(at, length), data + std::min(at, length) + valueBytes);
  at = Align4(at + valueBytes);
  while (at + 6 <= length) {
    VersionNode child;
    if (!ParseNode(data + at, length - at, depth + 1, &child)) return false;
    at = Align4(at + LoadU16(data + at));
    node->children.push_back(std::move(child));
  }
  return true;
}

void WriteNode(const VersionNode& node, std::vector<unsigned char>* out) {
  const std::size_t start = out->size();
  PutU16(*out, 0);  // wLength, set below
  PutU16(*out, node.valueLength);
  PutU16(*out, node.type);
  for (char16_t unit : node.key) PutU16(*out, unit);
  PutU16(*out, 0);
  out->resize(Align4(out->size() - start) + start);
  out->insert(out->end(), node.value.begin(), node.value.end());
  for (const VersionNode& child : node.children) {
    out->resize(Align4(out->size() - start) + start);
    WriteNode(child, out);
  }
  const std::size_t length = out->size() - start;
  (*out)[start] = static_cast<unsigned char>(length);
  (*out)[start + 1] = static_cast<unsigned char>(length >> 8);
}

// The group entries of an .ico file as RT_ICON items (identifiers from 1) and its group.
bool ReadIcon(const std::wstring& path, std::vector<ResourceItem>* icons, std::vector<unsigned char>* group,
              std::wstring* error) {
  FileSource file(path);
  unsigned char header[6];
  *error = L"--icon " + path + L": not an icon file (.ico)";
  if (!file.IsOpen() || file.Size() > (64u << 20) || !file.Read(0, header, 6) || LoadU16(header) != 0 ||
      LoadU16(header + 2) != 1) {
    return false;
  }
  const std::uint32_t count = LoadU16(header + 4);
  std::vector<unsigned char> entries;
  if (count == 0 || !file.ReadVector(6, 16 * count, &entries)) return false;
  group->assign(header, header + 6);
  for (std::uint32_t i = 0; i < count; ++i) {
    const unsigned char* e = &entries[16 * i];
    ResourceItem icon;
    icon.type = ResourceKey{false, kResourceIcon, u""};
    icon.name = ResourceKey{false, static_cast<std::uint16_t>(i + 1), u""};
    icon.inMemory = true;
    if (!file.ReadVector(LoadU32(e + 12), LoadU32(e + 8), &icon.content) || icon.content.empty()) return false;
    icon.size = static_cast<std::uint32_t>(icon.content.size());
    // GRPICONDIR's entry: the file's entry with the image's identifier in place of its offset.
    group->insert(group->end(), e, e + 12);
    PutU16(*group, i + 1);
    icons->push_back(std::move(icon));
  }
  error->clear();
  return true;
}

}  // namespace

bool SetVersionString(std::vector<unsigned char>* block, const std::u16string& key, const std::u16string& value) {
  VersionNode root;
  if (!ParseNode(block->data(), block->size(), 0, &root) || root.key != u"VS_VERSION_INFO") return false;
  std::vector<unsigned char> text;
  for (char16_t unit : value) PutU16(text, unit);
  PutU16(text, 0);
  for (VersionNode& info : root.children) {
    if (info.key != u"StringFileInfo") continue;
    for (VersionNode& table : info.children) {
      auto found = std::find_if(table.children.begin(), table.children.end(), [&](const VersionNode& s) { return s.key == key; });
      if (found == table.children.end()) {
        table.children.emplace_back();
        found = table.children.end() - 1;
        found->key = key;
      }
      found->type = 1;
      found->valueLength = static_cast<std::uint16_t>(value.size() + 1);
      found->value = text;
    }
  }
  block->clear();
  WriteNode(root, block);
  return block->size() <= 0xFFFF;
}

bool LauncherResources(const PeImage& image, const ByteSource& launcher, const PackRequest& request,
                       std::vector<ResourceItem>* resources, std::wstring* error) {
  const bool newIcon = !request.icon.empty();
  ResourceKey groupName{false, 1, u""};
  bool groupNamed = false;
  for (const ResourceItem& item : image.Resources()) {
    if (item.type == kZipType && !item.name.named && item.name.id == kZipId) continue;
    if (newIcon && (IsType(item, kResourceIcon) || IsType(item, kResourceGroupIcon))) {
      if (IsType(item, kResourceGroupIcon) && !groupNamed) groupName = item.name, groupNamed = true;
      continue;
    }
    resources->push_back(item);
  }
  if (newIcon) {
    ResourceItem group;
    group.type = ResourceKey{false, kResourceGroupIcon, u""};
    group.name = groupName;
    group.inMemory = true;
    if (!ReadIcon(request.icon, resources, &group.content, error)) return false;
    group.size = static_cast<std::uint32_t>(group.content.size());
    resources->push_back(std::move(group));
  }
  if (request.hasTitle) {
    const std::u16string title = ToUtf16(request.title);
    bool found = false;
    for (ResourceItem& item : *resources) {
      if (!IsType(item, kResourceVersion)) continue;
      if (!item.inMemory && !launcher.ReadVector(item.offset, item.size, &item.content)) return false;
      item.inMemory = true;
      if (!SetVersionString(&item.content, u"FileDescription", title) || !SetVersionString(&item.content, u"ProductName", title)) {
        *error = L"the launcher's version resource cannot be read, so --title cannot be set";
        return false;
      }
      item.size = static_cast<std::uint32_t>(item.content.size());
      found = true;
    }
    if (!found) {
      *error = L"the launcher has no version resource for --title (a launcher of this version has one)";
      return false;
    }
  }
  return true;
}

}  // namespace orvanezip
