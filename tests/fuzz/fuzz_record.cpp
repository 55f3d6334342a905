// Fuzzes what the SCORM side reads from outside: the record file (ParseRecord), the bodies of
// the launch / commit / restart requests applied to a record, and the manifest. The first byte
// chooses which. A record that parses must survive every rule applied to it, and come out as a
// record that parses again; nothing may throw.
#include <cstdint>
#include <string>

#include "scorm/attempts.h"
#include "scorm/manifest.h"
#include "scorm/progress.h"
#include "scorm/record_store.h"

namespace {

using nlohmann::json;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

const ManifestFacts& Facts(bool is12) {
  static const auto make = [](const char* version) {
    return ManifestFacts{.identifier = "P", .version = version,
                         .items = {{.identifier = "A", .completionThreshold = "0.5", .scaledPassingScore = "0.5"},
                                   {.identifier = "B", .completionThreshold = "0.5", .scaledPassingScore = "0.5"}}};
  };
  static const ManifestFacts v12 = make("1.2"), v2004 = make("2004");
  return is12 ? v12 : v2004;
}

void Exercise(json& record, const json& body, bool is12) {
  const ManifestFacts& facts = Facts(is12);
  std::string error;
  std::vector<std::string> warnings;
  for (const ManifestItem& item : facts.items) LaunchItem(record, facts, item, {"id", "name"}, "t", "2026-01-01T00:00:00Z");
  json commit = body;
  if (commit.is_object() && !commit.contains("session")) commit["session"] = "t";
  CommitItem(record, commit, facts.version, "2026-01-01T00:00:01Z", &error, &warnings);
  ProgressReport(record, facts).dump(-1, ' ', false, json::error_handler_t::replace);
  if (body.is_object() && body.contains("item") && body["item"].is_string()) RestartItems(record, body["item"], facts.version);
  json again;
  Require(ParseRecord(record.dump(-1, ' ', false, json::error_handler_t::replace), &again));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool is12 = data[0] & 1;
  const int kind = data[0] % 6 / 2;
  json record;
  if (kind == 0) {  // a record file
    if (ParseRecord(text, &record)) Exercise(record, json::object(), is12);
  } else if (kind == 1) {  // a request body, on a fresh record
    record = NewRecord(Facts(is12), {"id", "name"});
    const json body = json::parse(text, nullptr, false);
    if (!body.is_discarded()) Exercise(record, body, is12);
  } else {  // a manifest
    ManifestFacts facts = ReadManifest(text);
    CheckManifestFiles(facts, [](const std::string& file) { return file.size() % 2 == 0; });
    ProgressReport(json(), facts);
  }
  return 0;
}
