// ScormHandler: a SCORM package's own answers under the course's prefix, in front of the content
// handler. The reserved folder ".orvane/" holds the player's files and the record's requests;
// everything else goes to the content handler (archive entries under ".orvane/" are never
// served). Writes (POST) are taken only from the course's own origin; reads of the record are
// refused to pages of other sites; no GET changes anything.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/handler.h"
#include "scorm/attempts.h"
#include "scorm/manifest.h"
#include "scorm/record_store.h"

// The reserved folder under the course's root.
inline constexpr char kReservedFolder[] = ".orvane/";

struct ScormCourse {
  ManifestFacts manifest;
  std::string manifestPath = "imsmanifest.xml";  // relative to the prefix
  Learner learner;
};

class ScormHandler : public HttpHandler {
 public:
  // Clocks and tokens from outside, so tests can set them: the wall clock in Unix seconds, and
  // a new session token.
  using UnixClock = std::function<std::int64_t()>;
  using TokenSource = std::function<std::string()>;

  // `content` answers what is not the package's own, and must outlive the handler. The record
  // is loaded from `store` now; what that found wrong is in Notices().
  ScormHandler(HttpHandler& content, std::string prefix, ScormCourse course, RecordStore store,
               UnixClock clock, TokenSource tokens);

  // The run's URL (BaseUrl + prefix): its origin is the one writes must come from.
  void SetSessionUrl(const std::string& url);
  // What loading the record found (a damaged file set aside), for the learner and the log.
  const std::vector<std::string>& Notices() const { return notices_; }

  HttpAnswer Answer(const HttpRequest& request) override;
  std::uint64_t LastActivityMs() const override { return content_.LastActivityMs(); }

 private:
  HttpAnswer AnswerOwn(const HttpRequest& request, const std::string& name);
  HttpAnswer Launch(const nlohmann::json& body);
  HttpAnswer Commit(const nlohmann::json& body);
  HttpAnswer Restart(const nlohmann::json& body);
  // Saves the record; the answer to give when that failed, or none.
  bool Save(std::string* error);
  nlohmann::json CourseFacts() const;

  HttpHandler& content_;
  const std::string prefix_;
  const ScormCourse course_;
  RecordStore store_;
  UnixClock clock_;
  TokenSource tokens_;
  std::mutex origin_;
  std::string ownOrigin_;       // "http://127.0.0.1:PORT"
  std::string ownLocalhost_;    // "http://localhost:PORT"
  nlohmann::json record_;
  std::vector<std::string> notices_;
};

// A JSON answer: "HTTP/1.1 STATUS", Content-Type application/json, no caching.
HttpAnswer JsonAnswer(const char* status, const std::string& json);

// The UTC time of `unixSeconds` as ISO 8601 ("2026-12-09T10:41:00Z").
std::string IsoTime(std::int64_t unixSeconds);
