// The SCORM room's pure pieces: time spans and manifests.
#include <gtest/gtest.h>

#include <fstream>
#include <utility>
#include <vector>

#include "scorm/manifest.h"
#include "scorm/scorm_time.h"

namespace {

constexpr std::int64_t kBad = -1;

// Each parser with the texts it reads and the hundredths they come to, kBad for a refusal.
TEST(ScormTime, Parse) {
  const struct {
    bool (*parse)(std::string_view, std::int64_t*);
    std::vector<std::pair<const char*, std::int64_t>> cases;
  } parsers[] = {
      {ParseTimespan12,
       {{"00:00:00", 0},       {"0000:00:01.5", 150},  {"01:02:03.04", 372304}, {"9999:59:59.99", 3599999999},
        {"12:00:00", 4320000}, {"1:00:00", kBad},      {"00:60:00", kBad},      {"00:00:60", kBad},
        {"00:00:00.", kBad},   {"00:00:00.123", kBad}, {"00000:00:00", kBad},   {"00:00", kBad},
        {"00:00:00 ", kBad},   {"", kBad},             {"-1:00:00", kBad}}},
      {ParseDuration2004,
       {{"PT0S", 0},         {"PT1M30S", 9000},       {"PT1H", 360000},         {"PT2.5S", 250},
        {"PT0.257S", 25},    {"P1D", 8640000},        {"P1Y", 365 * 8640000ll}, {"P1M", 30 * 8640000ll},
        {"P1DT1M", 8646000}, {"PT1H2M3.04S", 372304}, {"P", kBad},              {"PT", kBad},
        {"P1DT", kBad},      {"PT1S1M", kBad},        {"PT1.5M", kBad},         {"P1W", kBad},
        {"-PT1S", kBad},     {"PT S", kBad},          {"1S", kBad},             {"PT1H1H", kBad}}},
  };
  for (const auto& parser : parsers) {
    for (const auto& [text, centiseconds] : parser.cases) {
      std::int64_t got = kBad;
      EXPECT_EQ(parser.parse(text, &got) ? got : kBad, centiseconds) << text;
    }
  }
}

TEST(ScormTime, FormatsReadBack) {
  for (std::int64_t cs : {0ll, 1ll, 150ll, 9000ll, 372304ll, 3599999999ll, 123456789012ll}) {
    std::int64_t back = -1;
    EXPECT_TRUE(ParseDuration2004(FormatDuration2004(cs), &back) && back == cs) << FormatDuration2004(cs);
    if (cs < 3600000000ll) {
      EXPECT_TRUE(ParseTimespan12(FormatTimespan12(cs), &back) && back == cs) << FormatTimespan12(cs);
    }
  }
  EXPECT_EQ(FormatTimespan12(372304), "0001:02:03.04");
  EXPECT_EQ(FormatDuration2004(372304), "PT1H2M3.04S");
  EXPECT_EQ(FormatDuration2004(0), "PT0S");
}

// A manifest of the given namespaces, schemaversion and body inside <organizations>.
std::string Manifest(const std::string& namespaces, const std::string& schemaVersion, const std::string& organizations,
                     const std::string& resources = R"(<resource identifier="R1" href="a.html" adlcp:scormtype="sco"/>)") {
  return "<?xml version=\"1.0\"?>\n<manifest identifier=\"M\" xmlns=\"http://www.imsglobal.org/xsd/imscp_v1p1\" " +
         namespaces + "><metadata><schema>ADL SCORM</schema><schemaversion>" + schemaVersion +
         "</schemaversion></metadata><organizations default=\"O\">" + organizations + "</organizations><resources>" +
         resources + "</resources></manifest>";
}

const std::string k12 = R"(xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_rootv1p2")";
const std::string k2004 = R"(xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_v1p3" xmlns:imsss="http://www.imsglobal.org/xsd/imsss")";
const std::string kOneItem = R"(<organization identifier="O"><title>T</title><item identifier="I" identifierref="R1"><title>One</title></item></organization>)";

TEST(Manifest, VersionFromBothSignals) {
  const struct {
    std::string namespaces, schemaVersion, version, edition;
    bool problem;
  } cases[] = {
      {k12, "1.2", "1.2", "", false},
      {k2004, "CAM 1.3", "2004", "2nd", false},
      {k2004, "2004 3rd Edition", "2004", "3rd", false},
      {k2004, " 2004 4th Edition ", "2004", "4th", false},
      {k2004, "1.2", "2004", "", true},  // they disagree: the namespaces win
      {k12, "2004 4th Edition", "1.2", "", true},
      {k2004, "", "2004", "", true},     // no schemaversion
      {"", "1.2", "1.2", "", false},     // the schemaversion alone
      {"", "", "", "", true},
  };
  for (const auto& c : cases) {
    const std::string resources = c.namespaces.empty() ? R"(<resource identifier="R1" href="a.html"/>)"
                                                       : R"(<resource identifier="R1" href="a.html" adlcp:scormtype="sco"/>)";
    const ManifestFacts facts = ReadManifest(Manifest(c.namespaces, c.schemaVersion, kOneItem, resources));
    EXPECT_TRUE(facts.wellFormed);
    EXPECT_EQ(facts.version, c.version) << c.schemaVersion;
    EXPECT_EQ(facts.edition, c.edition) << c.schemaVersion;
    EXPECT_EQ(facts.problems.empty(), !c.problem) << c.schemaVersion << ": " << ::testing::PrintToString(facts.problems);
  }
}

TEST(Manifest, ItemsValuesAndBases) {
  const std::string organizations = R"(<organization identifier="X"><title>Other</title></organization>
    <organization identifier="O"><title> Course </title>
      <item identifier="C" isvisible="false"><title>Cluster</title>
        <item identifier="L1" identifierref="R1" parameters="?a=1"><title>Leaf 1</title>
          <adlcp:dataFromLMS>data &amp; more</adlcp:dataFromLMS>
          <adlcp:completionThreshold completedByMeasure="true" minProgressMeasure="0.75"/>
          <imsss:sequencing><imsss:objectives><imsss:primaryObjective satisfiedByMeasure="true">
            <imsss:minNormalizedMeasure>0.6</imsss:minNormalizedMeasure></imsss:primaryObjective></imsss:objectives></imsss:sequencing>
        </item>
        <item identifier="L2" identifierref="R2"><title>Leaf 2</title><imsss:sequencing IDRef="shared"/></item>
      </item>
      <item identifier="L3" identifierref="MISSING"><title>Leaf 3</title><imsss:sequencing IDRef="shared">
        <imsss:objectives><imsss:primaryObjective/></imsss:objectives></imsss:sequencing></item>
    </organization>)";
  const std::string resources = R"(<resource identifier="R1" xml:base="sco/" href="start.html" adlcp:scormType="sco"/>
    <resource identifier="R2" href="asset.html" adlcp:scormType="asset"/>)";
  std::string xml = Manifest(k2004, "2004 4th Edition", organizations, resources);
  xml.insert(xml.rfind("</manifest>"), R"(<imsss:sequencingCollection><imsss:sequencing ID="shared"><imsss:objectives>
    <imsss:primaryObjective satisfiedByMeasure="true"><imsss:minNormalizedMeasure>0.8</imsss:minNormalizedMeasure>
    </imsss:primaryObjective></imsss:objectives></imsss:sequencing></imsss:sequencingCollection>)");
  ManifestFacts facts = ReadManifest(xml);
  ASSERT_EQ(facts.items.size(), 4u);
  EXPECT_EQ(facts.title, "Course");
  EXPECT_FALSE(facts.items[0].leaf);
  EXPECT_FALSE(facts.items[0].visible);
  const ManifestItem& leaf = facts.items[1];
  EXPECT_EQ(leaf.depth, 1);
  EXPECT_EQ(leaf.href, "sco/start.html");
  EXPECT_EQ(leaf.scormType, "sco");
  EXPECT_EQ(leaf.dataFromLms, "data & more");
  EXPECT_EQ(leaf.completionThreshold, "0.75");
  EXPECT_EQ(leaf.scaledPassingScore, "0.6");
  EXPECT_EQ(facts.items[2].scormType, "asset");
  EXPECT_EQ(facts.items[2].scaledPassingScore, "0.8");  // from the shared sequencing it refers to
  EXPECT_EQ(facts.items[3].scaledPassingScore, "");     // its own objectives stand instead
  EXPECT_EQ(Leaves(facts).size(), 3u);
  ASSERT_EQ(facts.problems.size(), 1u);  // L3's resource
  CheckManifestFiles(facts, [](const std::string& file) { return file == "sco/start.html"; });
  ASSERT_EQ(facts.problems.size(), 2u);
  EXPECT_NE(facts.problems[1].find("asset.html"), std::string::npos);
}

TEST(Manifest, BrokenOnesSayWhatIsWrong) {
  const struct {
    std::string xml, problem;
  } cases[] = {
      {"", "not well-formed"},
      {"<manifest><organizations>", "not well-formed"},
      {"<manifest identifier='M'><a></b></manifest>", "not well-formed"},
      {Manifest(k12, "1.2", ""), "no organization"},
      {Manifest(k12, "1.2", R"(<organization identifier="P"><item identifier="I"/></organization>)"), "\"O\" does not exist"},
      {Manifest(k12, "1.2", R"(<organization identifier="O"><item identifier="I"/></organization>)"), "names no resource"},
      {Manifest(k12, "1.2", kOneItem, R"(<resource identifier="R1"/>)"), "has no href"},
  };
  for (const auto& c : cases) {
    const ManifestFacts facts = ReadManifest(c.xml);
    std::string all;
    for (const std::string& problem : facts.problems) all += problem + "\n";
    EXPECT_NE(all.find(c.problem), std::string::npos) << c.xml << " -> " << all;
  }
}

#ifdef ORVANE_PACKAGED
// Manifests as an authoring tool writes them (simple-scorm-packager, at build time).
TEST(Manifest, MadeByAPackager) {
  const struct {
    std::string folder, version, mastery;
  } cases[] = {{"v12", "1.2", "80"}, {"v2004", "2004", ""}};
  for (const auto& c : cases) {
    std::ifstream file(ORVANE_PACKAGED "/" + c.folder + "/imsmanifest.xml", std::ios::binary);
    const ManifestFacts facts = ReadManifest(std::string(std::istreambuf_iterator<char>(file), {}));
    EXPECT_TRUE(facts.wellFormed) << c.folder;
    EXPECT_EQ(facts.version, c.version) << c.folder;
    EXPECT_EQ(facts.identifier, "com.example." + c.folder);
    EXPECT_TRUE(facts.problems.empty()) << ::testing::PrintToString(facts.problems);
    const std::vector<const ManifestItem*> leaves = Leaves(facts);
    ASSERT_EQ(leaves.size(), 1u) << c.folder;
    EXPECT_EQ(leaves[0]->href, "index_lms.html");
    EXPECT_EQ(leaves[0]->masteryScore, c.mastery);
  }
}
#endif

}  // namespace
