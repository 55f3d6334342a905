// Test helper: a Platform and BrowserSystem that answer sensibly by default, so that a test sets or overrides
// only what it checks. Its clock moves only when the run sleeps; a POSIX desktop with nothing
// but xdg-open is its default browser; a started "browser" fetches the start page from the
// run's real server, as a browser would, and its process is as `process` says.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "http/steady_clock.h"
#include "launcher/browsers/browser_system.h"
#include "launcher/os/loopback_get.h"
#include "launcher/os/platform.h"
#include "launcher/run/settings.h"
#include "text/text.h"

class FakePlatform : public Platform, public BrowserSystem {
 public:
  // Set by the test.
  UserSettings settings;  // what the run is given: HttpPort, LearnerName
  std::uint64_t nowMs = SteadyClockMs();  // NowMs, from the server's clock; Sleep adds to it
  std::int64_t unixNow = 1700000000;
  BrowserFacts facts = DefaultFacts();
  std::wstring dataFolder;                      // UserDataFolder; "" = none
  std::wstring ownProgram = L"/opt/orvane/orvane";
  std::map<std::wstring, std::string> files;    // ReadSmallFile's files
  std::set<std::wstring> firefoxInUse;          // profiles FirefoxProfileInUse reports held
  std::set<std::wstring> lockedElsewhere;       // folders whose TryLockFolder another process holds
  bool startSucceeds = true;
  bool browserAsks = true;  // a started browser GETs its start page, as a real one would
  ProcessState process = ProcessState::kExited;  // what the started process reports
  int stopAfterSleeps = -1;                      // Sleep reports a stop request from this one on
  int maxSleeps = 100000;                        // and from this one on in any case (a test's bound)
  std::function<void(FakePlatform&)> onSleep;    // runs after each sleep, clock advanced
  // A started Chromium-family browser's DevTools pipe: `devTools` gives the "result" JSON of
  // each command by its method ("" = no answer; unset = the browser never answers), until
  // `pipeClosed`.
  std::function<std::string(const std::string& method)> devTools;
  bool pipeClosed = false;

  // Recorded.
  std::vector<std::string> calls;  // facts, start, sleep, end, error, and each DevTools method
  std::vector<std::wstring> fileChecks;
  std::vector<std::wstring> errors;
  std::vector<std::wstring> notices;
  std::vector<ProgramStart> started;
  std::vector<std::wstring> removed;
  std::map<std::wstring, std::vector<std::string>> written;  // every WriteSmallFile, by path
  std::set<std::wstring> locked;                 // folders this run holds locked now
  std::set<std::wstring> lockFiles;              // folders with a lock file (set by a test too)
  std::vector<std::wstring> lockedEver;          // every lock this run took, in order
  std::map<std::wstring, std::int64_t> folders;  // made folder -> last marked (0: never)
  int sleeps = 0;
  int startPageStatus = 0;  // what the server answered for the start page when it was started
  std::string startPageBody;

  static BrowserFacts DefaultFacts() {
    BrowserFacts facts;
    facts.onPath[L"xdg-open"] = {L"/usr/bin/xdg-open", L"/usr/bin/xdg-open"};
    return facts;
  }

  std::uint64_t NowMs() override { return nowMs; }
  std::int64_t UnixSeconds() override { return unixNow; }
  bool Sleep(std::uint32_t ms) override {
    if (stopAfterSleeps == 0 || sleeps >= maxSleeps) return false;
    if (stopAfterSleeps > 0) --stopAfterSleeps;
    calls.push_back("sleep");
    ++sleeps;
    nowMs += ms;
    if (onSleep) onSleep(*this);
    return true;
  }
  bool IsExistingFile(const std::wstring& path) override {
    fileChecks.push_back(path);
    std::error_code error;
    const std::filesystem::path native(path);
    return std::filesystem::exists(native, error) && !std::filesystem::is_directory(native, error);
  }
  bool ReadSmallFile(const std::wstring& path, std::size_t maxBytes, std::string& bytes) override {
    const auto found = files.find(path);
    if (found == files.end()) return false;
    bytes = found->second.substr(0, maxBytes);
    return true;
  }
  std::wstring OwnProgramPath() override { return ownProgram; }
  void ShowError(const std::wstring& text) override {
    calls.push_back("error");
    errors.push_back(text);
  }
  void Notice(const std::wstring& text) override { notices.push_back(text); }
  bool WriteOutput(const std::string&) override { return true; }
  os::AccountNames CurrentAccount() override { return {L"learner", L"Ada Lovelace"}; }
  std::wstring UserDataFolder() override { return dataFolder; }
  bool MakeFolders(const std::wstring& path) override {
    folders.emplace(path, 0);
    return true;
  }
  std::vector<FolderUse> ListFolders(const std::wstring& parent) override {
    std::vector<FolderUse> list;
    for (const auto& [path, used] : folders) {
      if (path.size() > parent.size() + 1 && path.compare(0, parent.size(), parent) == 0 &&
          path.find_first_of(L"/\\", parent.size() + 1) == std::wstring::npos) {
        list.push_back({path.substr(parent.size() + 1), used});
      }
    }
    return list;
  }
  void MarkFolderUsed(const std::wstring& folder) override { folders[folder] = unixNow; }
  void RemoveTree(const std::wstring& path) override {
    removed.push_back(path);
    folders.erase(path);
  }
  std::unique_ptr<FolderLock> TryLockFolder(const std::wstring& folder, bool& heldElsewhere) override {
    heldElsewhere = lockedElsewhere.count(folder) != 0 || locked.count(folder) != 0;
    if (heldElsewhere) return nullptr;
    locked.insert(folder);
    lockedEver.push_back(folder);
    lockFiles.insert(folder);
    return std::make_unique<Lock>(*this, folder);
  }
  std::vector<std::wstring> ListFolderLocks(const std::wstring& parent) override {
    std::vector<std::wstring> names;
    for (const std::wstring& folder : lockFiles) {
      if (folder.compare(0, parent.size() + 1, parent + kPathSeparator) == 0) names.push_back(folder.substr(parent.size() + 1));
    }
    return names;
  }
  void RemoveFolderLock(const std::wstring& folder, std::unique_ptr<FolderLock> lock) override {
    lockFiles.erase(folder);
    lock.reset();
  }
  bool WriteSmallFile(const std::wstring& path, const std::string& bytes) override {
    files[path] = bytes;
    written[path].push_back(bytes);
    return true;
  }
  BrowserFacts GatherFacts() override {
    calls.push_back("facts");
    return facts;
  }
  bool FirefoxProfileInUse(const std::wstring& profileDir) override {
    return firefoxInUse.count(profileDir) != 0;
  }
  std::unique_ptr<ChildProcess> StartProcess(const ProgramStart& start) override {
    calls.push_back("start");
    started.push_back(start);
    if (browserAsks && !start.args.empty()) FetchStartPage(WideToAnsi(start.args.back()));
    if (!startSucceeds) return nullptr;
    return std::make_unique<Process>(*this, start.messagePipe);
  }
  std::unique_ptr<Browser> NewInternetExplorer(const BrowserChoice&) override { return nullptr; }

 private:
  class Lock : public FolderLock {
   public:
    Lock(FakePlatform& platform, std::wstring folder) : platform_(platform), folder_(std::move(folder)) {}
    ~Lock() override { platform_.locked.erase(folder_); }

   private:
    FakePlatform& platform_;
    std::wstring folder_;
  };

  // Commands come as {"id":N,"method":"M"}; answers go back as {"id":N,"result":R}, NUL-ended.
  class DevToolsPipe : public MessagePipe {
   public:
    explicit DevToolsPipe(FakePlatform& platform) : platform_(platform) {}
    bool Write(const std::string& bytes) override {
      if (platform_.pipeClosed) return false;
      const std::size_t id = bytes.find("\"id\":"), method = bytes.find("\"method\":\"");
      if (id == std::string::npos || method == std::string::npos) return true;
      const std::string name = bytes.substr(method + 10, bytes.find('"', method + 10) - method - 10);
      platform_.calls.push_back(name);
      const std::string result = platform_.devTools ? platform_.devTools(name) : "";
      if (!result.empty()) {
        unread_ += "{\"id\":" + std::to_string(std::stoll(bytes.substr(id + 5))) + ",\"result\":" + result + "}";
        unread_ += '\0';
      }
      return true;
    }
    ReadResult Read(std::string& to, int) override {
      if (platform_.pipeClosed) return ReadResult::kClosed;
      if (unread_.empty()) return ReadResult::kTimeout;
      to += unread_;
      unread_.clear();
      return ReadResult::kData;
    }

   private:
    FakePlatform& platform_;
    std::string unread_;
  };

  class Process : public ChildProcess {
   public:
    Process(FakePlatform& platform, bool pipe) : platform_(platform), pipe_(platform) , hasPipe_(pipe) {}
    ProcessState Check() override { return platform_.process; }
    void End() override {
      platform_.calls.push_back("end");
      platform_.process = ProcessState::kExited;
    }
    MessagePipe* Pipe() override { return hasPipe_ ? &pipe_ : nullptr; }

   private:
    FakePlatform& platform_;
    DevToolsPipe pipe_;
    bool hasPipe_;
  };

  // GETs the path of http://127.0.0.1:PORT/PATH?QUERY; the server ignores the query.
  void FetchStartPage(const std::string& url) {
    const std::string scheme = "http://127.0.0.1:";
    if (url.compare(0, scheme.size(), scheme) != 0) return;
    const std::size_t slash = url.find('/', scheme.size());
    if (slash == std::string::npos) return;
    const int serverPort = std::stoi(url.substr(scheme.size(), slash - scheme.size()));
    const std::string target = url.substr(slash, url.find('?') - slash);
    std::string raw;
    if (os::LoopbackGet(static_cast<std::uint16_t>(serverPort), target, raw, 5000)) {
      ParseHttpResponse(raw, startPageStatus, startPageBody);
    }
  }
};
