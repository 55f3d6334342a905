// The manifest's facts, gathered from the XML reader's events by tracking the open elements.
// Content-packaging elements are matched by local name in any namespace (packages use more than
// one imscp namespace); adlcp and imsss elements by their namespaces.
#include "scorm/manifest.h"

#include <map>
#include <set>

#include "scorm/xml_reader.h"

namespace {

constexpr char kAdlcp12[] = "http://www.adlnet.org/xsd/adlcp_rootv1p2";
constexpr char kImscp12[] = "http://www.imsproject.org/xsd/imscp_rootv1p1p2";
constexpr char kAdlcp2004[] = "http://www.adlnet.org/xsd/adlcp_v1p3";
constexpr char kImsss[] = "http://www.imsglobal.org/xsd/imsss";
constexpr char kAdlseq[] = "http://www.adlnet.org/xsd/adlseq_v1p3";
constexpr char kAdlnav[] = "http://www.adlnet.org/xsd/adlnav_v1p3";

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::string();
  return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

const std::string* Attribute(const std::vector<XmlAttribute>& attributes, std::string_view name,
                             std::string_view ns = {}) {
  for (const XmlAttribute& a : attributes) {
    if (Lower(a.name) == name && (ns.empty() ? a.ns.empty() || a.ns == kAdlcp12 || a.ns == kAdlcp2004 : a.ns == ns)) {
      return &a.value;
    }
  }
  return nullptr;
}

bool IsAdlcp(const std::string& ns) { return ns == kAdlcp12 || ns == kAdlcp2004; }

struct Resource {
  std::string href, base, scormType;
};

struct Organization {
  std::string identifier, title;
  std::vector<ManifestItem> items;
};

class ManifestReader : public XmlEvents {
 public:
  std::string identifier, schemaVersion, defaultOrganization, manifestBase, resourcesBase;
  std::vector<Organization> organizations;
  std::map<std::string, Resource> resources;
  std::set<std::string> namespaces;
  // Sequencing shared through imsss:sequencingCollection: its ID, and the passing score it sets;
  // the items that refer to one (IDRef) and set no objectives of their own.
  std::map<std::string, std::string> sharedPassingScores;
  std::map<std::string, std::string> itemSequencingRefs;

  void StartElement(const std::string& ns, const std::string& name, const std::vector<XmlAttribute>& attributes) override {
    namespaces.insert(ns);
    for (const XmlAttribute& a : attributes) namespaces.insert(a.ns);
    path_.push_back(name);
    text_.clear();
    const std::string local = Lower(name);
    const std::string* base = nullptr;
    for (const XmlAttribute& a : attributes) {
      if (a.ns == kXmlNamespace && a.name == "base") base = &a.value;
    }
    if (local == "manifest") {
      ++manifests_;
      if (manifests_ == 1) {
        if (const std::string* id = Attribute(attributes, "identifier")) identifier = *id;
        if (base) manifestBase = *base;
      }
    }
    if (manifests_ != 1) return;  // a sub-manifest's elements are not this package's
    if (local == "organizations") {
      if (const std::string* d = Attribute(attributes, "default")) defaultOrganization = *d;
    } else if (local == "organization" && Parent(1) == "organizations" && open_.empty()) {
      // (one inside an item is no organization of the package: the open items index this one's)
      organizations.emplace_back();
      if (const std::string* id = Attribute(attributes, "identifier")) organizations.back().identifier = *id;
    } else if (local == "item" && !organizations.empty() && inSequencing_ == 0) {
      ManifestItem item;
      if (const std::string* id = Attribute(attributes, "identifier")) item.identifier = *id;
      if (const std::string* ref = Attribute(attributes, "identifierref")) item.resource = *ref;
      if (const std::string* v = Attribute(attributes, "isvisible")) item.visible = Trim(*v) != "false";
      item.depth = static_cast<int>(open_.size());
      std::vector<ManifestItem>& items = organizations.back().items;
      if (!open_.empty()) items[open_.back()].leaf = false;
      open_.push_back(items.size());
      items.push_back(std::move(item));
    } else if (local == "resources") {
      if (base) resourcesBase = *base;
    } else if (local == "resource") {
      const std::string* id = Attribute(attributes, "identifier");
      if (id) {
        Resource& resource = resources[*id];
        if (const std::string* href = Attribute(attributes, "href")) resource.href = *href;
        if (base) resource.base = *base;
        if (const std::string* type = Attribute(attributes, "scormtype")) resource.scormType = Lower(Trim(*type));
      }
    } else if (ns == kImsss && local == "sequencing") {
      if (++inSequencing_ == 1) {
        passing_ = nullptr;
        if (CurrentItem()) {
          passing_ = &CurrentItem()->scaledPassingScore;
          if (const std::string* ref = Attribute(attributes, "idref")) itemSequencingRefs[CurrentItem()->identifier] = Trim(*ref);
        } else if (Lower(Parent(1)) == "sequencingcollection") {
          if (const std::string* id = Attribute(attributes, "id")) passing_ = &sharedPassingScores[Trim(*id)];
        }
      }
    } else if (ns == kImsss && local == "objectives" && CurrentItem()) {
      itemSequencingRefs.erase(CurrentItem()->identifier);  // its own objectives stand for the shared ones
    } else if (ns == kImsss && local == "primaryobjective" && passing_) {
      const std::string* byMeasure = Attribute(attributes, "satisfiedbymeasure");
      primaryByMeasure_ = byMeasure && Trim(*byMeasure) == "true";
      if (primaryByMeasure_) *passing_ = "1.0";
    } else if (IsAdlcp(ns) && local == "completionthreshold" && CurrentItem()) {
      // The 4th edition's form: attributes, the threshold being minProgressMeasure (1.0 unless set).
      if (const std::string* measure = Attribute(attributes, "minprogressmeasure")) {
        CurrentItem()->completionThreshold = Trim(*measure);
      } else if (Attribute(attributes, "completedbymeasure")) {
        CurrentItem()->completionThreshold = "1.0";
      }
    }
  }

  void EndElement(const std::string& ns, const std::string& name) override {
    const std::string local = Lower(name);
    const std::string text = Trim(text_);
    if (manifests_ == 1) {
      if (local == "schemaversion" && Parent(1) == "metadata" && Parent(2) == "manifest") {
        schemaVersion = text;
      } else if (local == "title" && inSequencing_ == 0) {
        if (Parent(1) == "item" && CurrentItem()) {
          CurrentItem()->title = text;
        } else if (Parent(1) == "organization" && !organizations.empty()) {
          organizations.back().title = text;
        }
      } else if (local == "item" && inSequencing_ == 0 && !open_.empty()) {
        open_.pop_back();
      } else if (IsAdlcp(ns) && CurrentItem()) {
        if (local == "datafromlms") CurrentItem()->dataFromLms = text_;
        if (local == "masteryscore") CurrentItem()->masteryScore = text;
        if (local == "completionthreshold" && !text.empty()) CurrentItem()->completionThreshold = text;
      } else if (ns == kImsss && local == "minnormalizedmeasure" && Parent(1) == "primaryObjective" &&
                 primaryByMeasure_ && passing_) {
        *passing_ = text;
      } else if (ns == kImsss && local == "sequencing") {
        if (--inSequencing_ == 0) passing_ = nullptr;
      }
    }
    if (local == "manifest") --manifests_;
    path_.pop_back();
    text_.clear();
  }

  void Text(std::string_view text) override { text_.append(text); }

 private:
  // The name of the element `up` levels above the one being closed or opened.
  std::string Parent(std::size_t up) const { return path_.size() > up ? path_[path_.size() - 1 - up] : std::string(); }
  ManifestItem* CurrentItem() {
    return open_.empty() || organizations.empty() ? nullptr : &organizations.back().items[open_.back()];
  }

  std::vector<std::string> path_;
  std::vector<std::size_t> open_;  // the items open, as indexes into the organization's list
  std::string text_;
  int manifests_ = 0;
  int inSequencing_ = 0;
  bool primaryByMeasure_ = false;
  std::string* passing_ = nullptr;  // where the open sequencing's passing score goes
};

// Joins an xml:base and a relative reference: a base that is a URL or absolute path stands
// alone; otherwise they are concatenated.
std::string Join(const std::string& base, const std::string& href) {
  if (href.find("://") != std::string::npos || (!href.empty() && href[0] == '/')) return href;
  return base + href;
}

// The version the schemaversion names, and its edition.
void VersionOfSchema(const std::string& text, std::string* version, std::string* edition) {
  const std::string lower = Lower(text);
  if (lower == "1.2") {
    *version = "1.2";
  } else if (lower == "cam 1.3") {
    *version = "2004", *edition = "2nd";
  } else if (lower == "2004 3rd edition") {
    *version = "2004", *edition = "3rd";
  } else if (lower == "2004 4th edition") {
    *version = "2004", *edition = "4th";
  }
}

}  // namespace

ManifestFacts ReadManifest(std::string_view xml) {
  ManifestFacts facts;
  ManifestReader reader;
  std::string error;
  facts.wellFormed = ReadXml(xml, reader, &error);
  if (!facts.wellFormed) {
    facts.problems.push_back("imsmanifest.xml is not well-formed XML (" + error + ").");
    return facts;
  }
  facts.identifier = reader.identifier;
  facts.schemaVersion = reader.schemaVersion;
  if (facts.identifier.empty()) facts.problems.push_back("The manifest has no identifier.");

  const auto uses = [&](const char* ns) { return reader.namespaces.count(ns) > 0; };
  const std::string byNamespace = uses(kAdlcp2004) || uses(kImsss) || uses(kAdlseq) || uses(kAdlnav) ? "2004"
                                  : uses(kAdlcp12) || uses(kImscp12)                                   ? "1.2"
                                                                                                      : "";
  std::string bySchema;
  VersionOfSchema(facts.schemaVersion, &bySchema, &facts.edition);
  facts.version = byNamespace.empty() ? bySchema : byNamespace;
  if (!byNamespace.empty() && !bySchema.empty() && byNamespace != bySchema) {
    facts.problems.push_back("The namespaces are SCORM " + byNamespace + "'s but the schemaversion \"" +
                             facts.schemaVersion + "\" is SCORM " + bySchema + "'s; played as " + byNamespace + ".");
    facts.edition.clear();
  } else if (facts.version.empty()) {
    facts.problems.push_back("No SCORM version is recognised (schemaversion \"" + facts.schemaVersion +
                             "\", and no SCORM namespace).");
  } else if (bySchema.empty()) {
    facts.problems.push_back("The schemaversion \"" + facts.schemaVersion + "\" is not one of SCORM " + facts.version + ".");
  }

  if (reader.organizations.empty()) {
    facts.problems.push_back("The manifest has no organization.");
    return facts;
  }
  const Organization* chosen = &reader.organizations.front();
  bool found = false;
  for (const Organization& o : reader.organizations) {
    if (o.identifier == reader.defaultOrganization) chosen = &o, found = true;
  }
  if (!found) {
    facts.problems.push_back(reader.defaultOrganization.empty()
                                 ? "The organizations name no default; the first is used."
                                 : "The default organization \"" + reader.defaultOrganization +
                                       "\" does not exist; the first is used.");
  }
  facts.organization = chosen->identifier;
  facts.title = chosen->title;
  facts.items = chosen->items;
  if (facts.items.empty()) facts.problems.push_back("The organization \"" + chosen->identifier + "\" has no items.");
  for (ManifestItem& item : facts.items) {
    const auto ref = reader.itemSequencingRefs.find(item.identifier);
    if (ref != reader.itemSequencingRefs.end()) {
      const auto shared = reader.sharedPassingScores.find(ref->second);
      if (shared != reader.sharedPassingScores.end()) item.scaledPassingScore = shared->second;
    }
    if (item.resource.empty()) {
      if (item.leaf) facts.problems.push_back("The item \"" + item.identifier + "\" names no resource.");
      continue;
    }
    const auto resource = reader.resources.find(item.resource);
    if (resource == reader.resources.end()) {
      facts.problems.push_back("The item \"" + item.identifier + "\" names the resource \"" + item.resource +
                               "\", which does not exist.");
      continue;
    }
    item.scormType = resource->second.scormType;
    if (resource->second.href.empty()) {
      facts.problems.push_back("The resource \"" + item.resource + "\" has no href.");
      continue;
    }
    item.href = Join(reader.manifestBase, Join(reader.resourcesBase, Join(resource->second.base, resource->second.href)));
  }
  return facts;
}

void CheckManifestFiles(ManifestFacts& facts, const std::function<bool(const std::string&)>& exists) {
  for (const ManifestItem& item : facts.items) {
    if (item.href.empty() || item.href.find("://") != std::string::npos) continue;
    const std::string file = item.href.substr(0, item.href.find_first_of("?#"));
    if (!exists(file)) {
      facts.problems.push_back("The item \"" + item.identifier + "\" starts at \"" + file +
                               "\", which is not in the package.");
    }
  }
}

std::vector<const ManifestItem*> Leaves(const ManifestFacts& facts) {
  std::vector<const ManifestItem*> leaves;
  for (const ManifestItem& item : facts.items) {
    if (item.leaf) leaves.push_back(&item);
  }
  return leaves;
}
