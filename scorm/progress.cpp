#include "scorm/progress.h"

#include <cmath>

#include "scorm/attempts.h"

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// A number the data model holds as text, or null.
ordered_json NumberOrNull(const json& cmi, const char* name) {
  const auto at = cmi.find(name);
  if (at == cmi.end() || !at->is_string()) return nullptr;
  const std::string text = at->get<std::string>();
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) return nullptr;
  return value;
}

std::int64_t Centiseconds(const json& object) {
  const auto at = object.find("totalSeconds");
  return at != object.end() && at->is_number() ? std::llround(at->get<double>() * 100) : 0;
}

ordered_json Seconds(std::int64_t centiseconds) {
  if (centiseconds % 100 == 0) return centiseconds / 100;
  return static_cast<double>(centiseconds) / 100;
}

}  // namespace

ordered_json ProgressReport(const json& record, const ManifestFacts& manifest) {
  const bool is12 = manifest.version == "1.2";
  const json none;
  const json& items = record.is_object() && record.contains("items") ? record["items"] : none;
  ordered_json list = ordered_json::array();
  std::int64_t courseCs = 0;
  std::size_t completed = 0, attempted = 0, reporting = 0, passed = 0;
  const std::vector<const ManifestItem*> leaves = Leaves(manifest);
  for (const ManifestItem* leaf : leaves) {
    const json& item = items.is_object() && items.contains(leaf->identifier) ? items[leaf->identifier] : none;
    const ItemStatus status = EvaluateItem(item, *leaf, manifest.version);
    const json& cmi = item.is_object() ? item["cmi"] : none;
    std::int64_t itemCs = 0;
    if (item.is_object()) {
      itemCs = Centiseconds(item);
      for (const json& old : item.value("history", json::array())) itemCs += Centiseconds(old);
    }
    courseCs += itemCs;
    completed += status.completion == "completed";
    attempted += status.completion != "not attempted";
    if (status.success != "unknown") ++reporting, passed += status.success == "passed";
    const char* location = is12 ? "cmi.core.lesson_location" : "cmi.location";
    ordered_json entry;
    entry["identifier"] = leaf->identifier;
    entry["title"] = leaf->title;
    entry["completion"] = status.completion;
    entry["success"] = status.success;
    entry["scoreRaw"] = cmi.is_object() ? NumberOrNull(cmi, is12 ? "cmi.core.score.raw" : "cmi.score.raw") : nullptr;
    entry["scoreScaled"] = cmi.is_object() && !is12 ? NumberOrNull(cmi, "cmi.score.scaled") : nullptr;
    entry["location"] = cmi.is_object() && cmi.contains(location) ? cmi[location].get<std::string>() : "";
    entry["totalSeconds"] = Seconds(itemCs);
    entry["attempts"] = item.is_object() ? item.value("attempt", 0) : 0;
    list.push_back(std::move(entry));
  }
  ordered_json course;
  course["identifier"] = manifest.identifier;
  course["title"] = manifest.title;
  course["scorm"] = manifest.version;
  course["completion"] = !leaves.empty() && completed == leaves.size() ? "completed"
                         : attempted == 0                              ? "not attempted"
                                                                       : "incomplete";
  course["success"] = reporting == 0 ? "unknown" : passed == reporting ? "passed" : "failed";
  course["totalSeconds"] = Seconds(courseCs);
  ordered_json report;
  report["course"] = std::move(course);
  report["items"] = std::move(list);
  return report;
}
