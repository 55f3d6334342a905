// The record store on real files in a fresh folder, and the record's rules: entries, attempts,
// time counted once, and the report; then the package's answers from a real server on 127.0.0.1:
// the record's requests, the refusals, and a record that outlives the handler.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "http/server.h"
#include "scorm/attempts.h"
#include "scorm/progress.h"
#include "scorm/record_store.h"
#include "scorm/scorm_handler.h"
#include "tests/http/raw_client.h"
#include "tests/http/server_fixture.h"

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
  const nlohmann::ordered_json report = ProgressReport(record, facts);
  EXPECT_EQ(report["items"][0]["completion"], "completed");
  EXPECT_EQ(report["items"][0]["success"], "failed");
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

constexpr char kPrefix[] = "1a2b3c/";

// The 2004 package above for the learner Ada, served from the fresh folder's record.
class Served : public Store {
 protected:
  void SetUp() override {
    Fresh();
    Start();
  }
  void Start() {
    server_.reset();
    const ScormCourse course{.manifest = Package("2004"), .learner = {"ada", "Ada Lovelace"}};
    handler_ = std::make_unique<ScormHandler>(content_, kPrefix, course, RecordStore(path_.wstring()),
                                              [] { return std::int64_t{1800000000}; }, [this] { return "token" + std::to_string(++tokens_); });
    server_ = std::make_unique<HttpServer>(*handler_);
    const std::string base = server_->Start(0);
    port_ = PortOf(base);
    handler_->SetSessionUrl(base + kPrefix);
  }
  static std::string Length(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n"; }
  // The answer's status line and body.
  std::pair<std::string, std::string> Ask(const std::string& method, const std::string& name, const std::string& headers,
                                          const std::string& body = std::string()) {
    const std::string request = method + " /" + kPrefix + ".orvane/" + name + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                std::to_string(port_) + "\r\n" + headers + "\r\n" + body;
    const Response answer = Split(Exchange(port_, request));
    return {answer.head.substr(0, answer.head.find("\r\n")), answer.body};
  }
  std::pair<std::string, std::string> Post(const std::string& name, const json& body) {
    return Ask("POST", name, "Origin: http://127.0.0.1:" + std::to_string(port_) + "\r\nContent-Type: text/plain;charset=UTF-8\r\n" +
                                 Length(body.dump()), body.dump());
  }

  NotFoundHandler content_;
  std::unique_ptr<ScormHandler> handler_;
  std::unique_ptr<HttpServer> server_;
  std::uint16_t port_ = 0;
  int tokens_ = 0;
};

TEST_F(Served, LaunchCommitAndTheRecordAfterARestart) {
  const auto launched = Post("launch", {{"item", "S"}});
  ASSERT_EQ(launched.first, "HTTP/1.1 200 OK");
  const json launch = json::parse(launched.second);
  EXPECT_EQ(launch["entry"], "ab-initio");
  EXPECT_EQ(launch["cmi"]["cmi.learner_id"], "ada");
  const std::string suspend(70000, 's');
  const json commit = {{"item", "S"}, {"session", launch["session"]}, {"seq", 1}, {"cmi", {{"cmi.suspend_data", suspend}}},
                       {"globals", {{"objectives", json::object()}}}};
  EXPECT_EQ(Post("commit", commit).first, "HTTP/1.1 200 OK");
  // Answered only once on disk: a new handler (a new run) reads it back.
  Start();
  const json again = json::parse(Post("launch", {{"item", "S"}}).second);
  EXPECT_EQ(again["entry"], "resume");
  EXPECT_EQ(again["cmi"]["cmi.suspend_data"], suspend);
  EXPECT_EQ(again["globals"], json({{"objectives", json::object()}}));
  const auto record = Ask("GET", "record", "Sec-Fetch-Site: same-origin\r\n");
  EXPECT_EQ(record.first, "HTTP/1.1 200 OK");
  EXPECT_EQ(json::parse(record.second)["items"]["S"]["cmi"]["cmi.suspend_data"], suspend);
  EXPECT_EQ(json::parse(Ask("GET", "course.json", "").second)["scorm"], "2004");
}

// Writes from another origin, or none, reads from other sites, and bodies the server refuses
// change nothing and get nothing.
TEST_F(Served, RefusedRequests) {
  const std::string port = std::to_string(port_), own = "Origin: http://127.0.0.1:" + port + "\r\n", item = json{{"item", "S"}}.dump(),
                    length = Length(item);
  const struct {
    std::string method, name, headers, body, status;
  } cases[] = {
      {"POST", "launch", length, item, "403 Forbidden"},
      {"POST", "launch", "Origin: http://evil.example\r\n" + length, item, "403 Forbidden"},
      {"POST", "launch", "Origin: null\r\n" + length, item, "403 Forbidden"},
      {"POST", "launch", "Origin: http://127.0.0.1:" + std::to_string(port_ + 1) + "\r\n" + length, item, "403 Forbidden"},
      {"POST", "launch", "Origin: https://127.0.0.1:" + port + "\r\n" + length, item, "403 Forbidden"},
      {"POST", "launch", own + own + length, item, "403 Forbidden"},
      {"GET", "record", "Sec-Fetch-Site: cross-site\r\n", "", "403 Forbidden"},
      {"GET", "record", "Sec-Fetch-Site: same-site\r\n", "", "403 Forbidden"},
      {"GET", "course.json", "Sec-Fetch-Site: cross-site\r\n", "", "403 Forbidden"},
      {"GET", "course.json", "Sec-Fetch-Site: same-site\r\n", "", "403 Forbidden"},
      {"GET", "launch", "", "", "404 Not Found"},  // no GET changes anything
      {"POST", "commit", own + "Content-Length: 8388609\r\n", "", "413 Content Too Large"},
      {"POST", "commit", own + "Transfer-Encoding: chunked\r\n", "5\r\nhello\r\n0\r\n\r\n", "411 Length Required"},
      {"POST", "commit", own + "Content-Length: 1x\r\n", "", "400 Bad Request"},
      {"POST", "commit", own + "Content-Length: 2\r\nContent-Length: 3\r\n", "{}", "400 Bad Request"},
      {"POST", "commit", own + "Content-Length: 5\r\n", "[1,2]", "400 Bad Request"},
      {"POST", "commit", own + "Content-Length: 2\r\n", "{}", "409 Conflict"},
  };
  for (const auto& c : cases) EXPECT_EQ(Ask(c.method, c.name, c.headers, c.body).first, "HTTP/1.1 " + c.status) << c.headers;
  EXPECT_EQ(Ask("POST", "launch", "Origin: http://localhost:" + port + "\r\n" + length, item).first, "HTTP/1.1 200 OK");
  EXPECT_EQ(json::parse(Ask("GET", "record", "Sec-Fetch-Site: none\r\n").second)["items"]["S"]["attempt"], 1);
}

}  // namespace
