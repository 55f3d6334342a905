// The record store on real files in a fresh folder, and the record's rules: entries, attempts,
// time counted once, and the report.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "scorm/attempts.h"
#include "scorm/progress.h"
#include "scorm/record_store.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class Store : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { fs::remove_all(dir_); }
  void Fresh() {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void Write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  const fs::path dir_ = fs::temp_directory_path() / ("orvane-record-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
  const fs::path path_ = dir_ / "course.json";
  std::string error_;
};

json Record(const std::string& location) {
  return json{{"format", 1}, {"items", {{"I", {{"cmi", {{"cmi.location", location}}}, {"history", json::array()}}}}}, {"globals", json::object()}};
}

TEST_F(Store, SavesAtomicallyAndKeepsTheLastGoodOne) {
  RecordStore store(path_.wstring());
  ASSERT_TRUE(store.Save(Record("one"), &error_)) << error_;
  ASSERT_TRUE(store.Save(Record("two"), &error_)) << error_;
  EXPECT_EQ(Names(), (std::vector<std::string>{"course.json", "course.json.bak"}));
  std::vector<std::string> notices;
  EXPECT_EQ(RecordStore(path_.wstring()).Load(1000, &notices), Record("two"));
  EXPECT_TRUE(notices.empty());
  EXPECT_EQ(RecordStore((dir_ / "course.json.bak").wstring()).Load(1000, &notices), Record("one")) << "the backup";
  // A folder that cannot be written fails the save.
  EXPECT_FALSE(RecordStore((dir_ / "missing" / "course.json").wstring()).Save(Record("x"), &error_));
  EXPECT_FALSE(error_.empty());
}

// A file cut short, garbage, or JSON that is no record: set aside under a name of its own, the
// backup used, and a notice; never a silent reset.
TEST_F(Store, DamagedFilesAreSetAsideAndTheBackupUsed) {
  const std::string good = Record("good").dump();
  for (const std::string& bytes : {good.substr(0, good.size() / 2), std::string("\x00\xff garbage", 10), std::string(),
                                   std::string(R"({"format": 2, "items": {}})"),  // another format, a wrong type
                                   std::string(R"({"format": 1, "items": {"I": {"cmi": {"cmi.location": 5}}}})")}) {
    Fresh();
    Write(dir_ / "course.json.bak", good);
    Write(path_, bytes);
    std::vector<std::string> notices;
    RecordStore store(path_.wstring());
    EXPECT_EQ(store.Load(1234, &notices), Record("good")) << bytes;
    ASSERT_EQ(notices.size(), 2u) << bytes;
    EXPECT_NE(notices[0].find("damaged"), std::string::npos);
    EXPECT_EQ(Names(), (std::vector<std::string>{"course.json.bak", "course.json.damaged-1234"})) << bytes;
    ASSERT_TRUE(store.Save(Record("next"), &error_)) << error_;
    EXPECT_EQ(Names(), (std::vector<std::string>{"course.json", "course.json.bak", "course.json.damaged-1234"}));
  }
  // Both damaged: both kept aside, the record starts anew and says so.
  Write(path_, "{");
  Write(dir_ / "course.json.bak", "}");
  Write(dir_ / "course.json.damaged-1234", "an earlier one");
  std::vector<std::string> notices;
  EXPECT_TRUE(RecordStore(path_.wstring()).Load(1234, &notices).is_null());
  EXPECT_EQ(notices.size(), 3u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"course.json.bak.damaged-1234", "course.json.damaged-1234",
                                               "course.json.damaged-1234-2"}));
}

// The package: one SCO and one asset, 2004 with thresholds, or 1.2.
ManifestFacts Package(const std::string& version) {
  const bool is2004 = version == "2004";
  return {.identifier = "P", .version = version, .title = "Course",
          .items = {{.identifier = "S", .title = "Sco", .dataFromLms = "launch", .masteryScore = is2004 ? "" : "70",
                     .completionThreshold = is2004 ? "0.8" : "", .scaledPassingScore = is2004 ? "0.5" : ""},
                    {.identifier = "A", .title = "Asset"}}};
}

struct Session {
  json& record;
  const ManifestFacts& facts;
  std::string token;
  json launched;
  std::vector<std::string> warnings;
  Session(json& r, const ManifestFacts& f, const std::string& t, std::size_t item = 0)
      : record(r), facts(f), token(t), launched(LaunchItem(r, f, f.items[item], {"id", "Name"}, t, "2026-01-01T00:00:00Z")) {}
  bool Commit(const json& cmi, const json& end = nullptr, double seconds = 0, const std::string& as = "") {
    std::string error;
    return CommitItem(record, {{"item", "S"}, {"session", as.empty() ? token : as}, {"cmi", cmi}, {"end", end}, {"sessionSeconds", seconds}},
                      facts.version, "2026-01-01T00:01:00Z", &error, &warnings);
  }
};

TEST(Attempts, EntriesTimeAndNewAttempts2004) {
  const ManifestFacts facts = Package("2004");
  json record = NewRecord(facts, {"id", "Name"});
  {
    Session s(record, facts, "t1");
    EXPECT_EQ(s.launched["entry"], "ab-initio");
    const json want = {{"cmi.completion_threshold", "0.8"}, {"cmi.scaled_passing_score", "0.5"}, {"cmi.launch_data", "launch"},
                       {"cmi.learner_name", "Name"}};
    for (const auto& [name, value] : want.items()) EXPECT_EQ(s.launched["cmi"][name], value) << name;
    // A suspended session: its time once, however often the end is sent.
    ASSERT_TRUE(s.Commit({{"cmi.location", "p2"}, {"cmi.session_time", "PT1M"}, {"cmi.exit", "suspend"}}, "finish", 999));
    ASSERT_TRUE(s.Commit(json::object(), "finish", 999));
    ASSERT_TRUE(s.Commit(json::object(), "pagehide", 999));
  }
  {
    Session s(record, facts, "t2");
    EXPECT_EQ(s.launched["entry"], "resume");
    EXPECT_EQ(s.launched["cmi"]["cmi.location"], "p2");
    EXPECT_EQ(s.launched["cmi"]["cmi.total_time"], "PT1M");
    EXPECT_FALSE(s.launched["cmi"].contains("cmi.exit"));
    // A session that crashed: the player's clock of its last commit counts at the next launch.
    ASSERT_TRUE(s.Commit({{"cmi.progress_measure", "0.9"}}, nullptr, 30));
  }
  {
    Session s(record, facts, "t3");
    EXPECT_EQ(s.launched["entry"], "resume");
    EXPECT_EQ(s.launched["cmi"]["cmi.total_time"], "PT1M30S");
    EXPECT_FALSE(s.Commit(json::object(), nullptr, 0, "t2"));  // an ended session's token
    // Completed by measure, finished normally: the next launch is a new attempt.
    ASSERT_TRUE(s.Commit({{"cmi.score.scaled", "0.4"}, {"cmi.exit", "normal"}}, "finish", 10));
  }
  const ItemStatus status = EvaluateItem(record["items"]["S"], facts.items[0], "2004");
  EXPECT_EQ(status.completion, "completed");
  EXPECT_EQ(status.success, "failed");
  const nlohmann::ordered_json report = ProgressReport(record, facts);
  EXPECT_EQ(report["course"]["completion"], "incomplete");  // the asset was never shown
  EXPECT_EQ(report["course"]["success"], "failed");
  EXPECT_EQ(report["items"][0]["totalSeconds"], 100);
  EXPECT_EQ(report["items"][0]["scoreScaled"], 0.4);
  EXPECT_EQ(report["items"][1]["completion"], "not attempted");
  {
    Session s(record, facts, "t4");
    EXPECT_EQ(s.launched["entry"], "ab-initio");
    EXPECT_EQ(s.launched["attempt"], 2);
    EXPECT_FALSE(s.launched["cmi"].contains("cmi.location"));  // 2004 data reset
    EXPECT_EQ(record["items"]["S"]["history"].size(), 1u);
  }
  EXPECT_EQ(ProgressReport(record, facts)["items"][0]["totalSeconds"], 100);  // history's time stays
  record["globals"] = {{"objective", "satisfied"}};
  RestartItems(record, "S", "2004");
  EXPECT_EQ(Session(record, facts, "t5").launched["attempt"], 3);
  EXPECT_EQ(record["globals"].size(), 1u);  // one item's restart keeps the course's state
  RestartItems(record, "", "2004");
  EXPECT_EQ(record["globals"], json::object());
  EXPECT_EQ(Session(record, facts, "t6").launched["attempt"], 4);
}

TEST(Attempts, LessonStatus12AndLongValues) {
  const ManifestFacts facts = Package("1.2");
  const struct {
    std::string lesson, completion, success;
  } cases[] = {{"passed", "completed", "passed"},     {"failed", "completed", "failed"},    {"completed", "completed", "unknown"},
               {"incomplete", "incomplete", "unknown"}, {"browsed", "incomplete", "unknown"}};
  for (const auto& c : cases) {
    json record = NewRecord(facts, {"id", "Name"});
    Session s(record, facts, "t");
    EXPECT_EQ(s.launched["cmi"]["cmi.student_data.mastery_score"], "70");
    ASSERT_TRUE(s.Commit({{"cmi.core.lesson_status", c.lesson}, {"cmi.core.session_time", "00:00:05"}}, "finish"));
    const ItemStatus status = EvaluateItem(record["items"]["S"], facts.items[0], "1.2");
    EXPECT_EQ(std::make_pair(status.completion, status.success), std::make_pair(c.completion, c.success)) << c.lesson;
    // 1.2 keeps the status into the next attempt.
    const json next = Session(record, facts, "u").launched;
    EXPECT_EQ(next["cmi"]["cmi.core.lesson_status"], c.lesson);
    EXPECT_EQ(next["cmi"]["cmi.core.total_time"], c.completion == "completed" ? "0000:00:00.00" : "0000:00:05.00");
  }
  json record = NewRecord(facts, {"id", "Name"});
  Session s(record, facts, "t");
  const std::string kept(kMaxLongValue, 'x'), refused(kMaxLongValue + 1, 'x');
  ASSERT_TRUE(s.Commit({{"cmi.suspend_data", kept}}));
  ASSERT_TRUE(s.Commit({{"cmi.suspend_data", refused}}));
  EXPECT_EQ(record["items"]["S"]["cmi"]["cmi.suspend_data"], kept);
  EXPECT_EQ(s.warnings.size(), 2u);
}

}  // namespace
