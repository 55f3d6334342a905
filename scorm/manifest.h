// What the launcher and orvane-zip need from a SCORM package's imsmanifest.xml, read with the
// platform's XML parser (xml_reader.h): the package's identifier and version, the default
// organization's items in order with the values a launch hands to the content, and what is
// wrong with it. The player reads the manifest for itself; this is the C++ side's view.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ManifestItem {
  std::string identifier;
  std::string title;
  int depth = 0;          // 0 for the organization's own children
  bool leaf = true;       // has no child items
  bool visible = true;    // isvisible is not "false"
  std::string resource;   // identifierref; "" for none
  std::string href;       // the resource's href with every xml:base applied; "" for none
  std::string scormType;  // "sco" or "asset" (lower case), "" when the resource says neither
  std::string dataFromLms;           // adlcp:datafromlms / dataFromLMS
  std::string masteryScore;          // adlcp:masteryscore (1.2)
  std::string completionThreshold;   // adlcp:completionThreshold (2004): text or minProgressMeasure
  std::string scaledPassingScore;    // the primary objective's minNormalizedMeasure when it is
                                     // satisfiedByMeasure (2004; "1.0" when the measure is left out)
};

struct ManifestFacts {
  bool wellFormed = false;
  std::string identifier;  // the manifest element's identifier
  std::string version;     // "1.2" or "2004"; "" when neither could be recognised
  std::string edition;     // "2nd", "3rd", "4th" for 2004 when the schemaversion says; else ""
  std::string schemaVersion;   // the metadata's schemaversion text, blanks trimmed
  std::string title;           // the chosen organization's title
  std::string organization;    // its identifier
  std::vector<ManifestItem> items;   // the chosen organization's items, in document order
  std::vector<std::string> problems;  // what is wrong, one sentence each
};

// Reads a manifest's text. The organization is the one `default` names, else the first. The
// version comes from both the namespaces in use (adlcp, imsss, adlseq, adlnav, imscp) and the
// schemaversion ("1.2"; "CAM 1.3" = 2004 2nd; "2004 3rd Edition"; "2004 4th Edition"); when
// they disagree the namespaces win and a problem says so. Never throws for any input.
ManifestFacts ReadManifest(std::string_view xml);

// Adds to facts.problems each item href that `exists` (a path relative to the course's root,
// no query or fragment) does not find.
void CheckManifestFiles(ManifestFacts& facts, const std::function<bool(const std::string&)>& exists);

// The leaves of the organization, the items a learner opens.
std::vector<const ManifestItem*> Leaves(const ManifestFacts& facts);
