// The start-up sequence and tear-down: the course opened, its profile taken (or the run of it
// that already serves it found and handed the page), the server on the course's port, the
// browser and its watch.
#include "launcher/run/startup.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <memory>
#include <mutex>

#include "amzip/archive.h"
#include "amzip/error.h"
#include "content/archive_handler.h"
#include "http/server.h"
#include "scorm/progress.h"
#include "scorm/scorm_handler.h"
#include "launcher/browsers/browser.h"
#include "launcher/browsers/browser_system.h"
#include "launcher/browsers/handover.h"
#include "launcher/os/platform.h"
#include "launcher/run/course_identity.h"
#include "launcher/run/course_layout.h"
#include "launcher/run/course_profile.h"
#include "launcher/run/session.h"
#include "launcher/run/settings.h"
#include "launcher/run/watch.h"
#include "text/text.h"
#include "text/url.h"

namespace {

// How long a second run looks for the address of the run that holds the course's profile (it
// may be starting up itself, and says where it serves only once its browser is up; or ending,
// its browser showing no page, which takes up to three watch passes), in steps of
// kFirstRunStepMs.
constexpr int kFirstRunSteps = 200;
constexpr std::uint32_t kFirstRunStepMs = 200;

// A run whose browser has asked for none of its pages says where it serves after this long all
// the same (a browser of the user's own may show the page without asking again).
constexpr std::uint64_t kAnnounceAnywayMs = 10000;

// The opened course: the archive file named on the command line ("" for the embedded one), and
// the first argument that belongs to the page.
struct OpenedCourse {
  std::wstring file;
  std::size_t firstArgument = 0;
};

bool OpenEmbedded(amzip::ZipArchive& archive) {
  try {
    archive.Close();
    archive.OpenResource(L"RT_ZIP", amzip::ResourceId(777));
    return archive.IsOpen();
  } catch (...) {
    DebugLog("fatal extract from resource error.\n");
    archive.Close();
    return false;
  }
}

// The course's identity: a package's follows its manifest's identifier, anything else its
// course ID or file name (CourseIdentityOf).
std::wstring IdentityOf(Platform& platform, const amzip::ZipArchive& archive, const OpenedCourse& course,
                        const CourseLayout& layout) {
  return CourseIdentityOf(archive, course.file.empty() ? platform.OwnProgramPath() : course.file,
                          layout.package ? layout.manifest.identifier : std::string());
}

// Opens the course: the candidate argument when it names a file, else the archive this program
// carries; a candidate that names no file is then the page's first argument. False after one
// message naming the file and the reason when there is no course to open.
bool OpenCourse(Platform& platform, amzip::ZipArchive& archive, const CommandLine& commandLine,
                OpenedCourse& course) {
  const bool hasCandidate = commandLine.present && commandLine.candidate < commandLine.args.size();
  if (!hasCandidate) {
    course.firstArgument = commandLine.args.size();
    if (OpenEmbedded(archive)) return true;
    platform.ShowError(L"No course to open: name a course's zip file (orvane COURSE.zip).");
    return false;
  }
  const std::wstring& candidate = commandLine.args[commandLine.candidate];
  std::wstring reason;
  if (platform.IsExistingFile(candidate)) {
    DebugLog("trying to open zip '%S'.\n", candidate.c_str());
    course.file = candidate;
    course.firstArgument = commandLine.candidate + 1;
    try {
      archive.OpenFile(candidate);
      return true;
    } catch (const amzip::AZError& error) {
      // The reader's words for "no end record, no directory" mean the file is no zip at all.
      reason = error.code == amzip::AZ_ERROR_UNKNOWN_SIGNATURE || error.code == amzip::AZ_ERROR_CENTRAL_DIRECTORY
                   ? L"It is not a zip file (" + error.Message() + L")."
                   : error.Message();
    } catch (...) {
      reason = L"Fatal error while trying to open archive";
    }
    course.file.clear();
    // A launcher that carries its course runs it; the file it could not read is dropped.
    if (OpenEmbedded(archive)) return true;
  } else {
    course.firstArgument = commandLine.candidate;
    if (OpenEmbedded(archive)) return true;
    reason = L"There is no such file.";
  }
  // One line: standard error and a dialog show it alike.
  for (wchar_t& c : reason) {
    if (c == L'\n' || c == L'\r') c = L' ';
  }
  platform.ShowError(L"Cannot open the course \"" + candidate + L"\": " + reason);
  return false;
}

// The start URL after the course's URL: the course's start page, the page's arguments and the
// ".start" text. A failed read of ".start" is shown and the URL goes without it.
std::wstring StartPage(Platform& platform, amzip::ZipArchive& archive, const CommandLine& commandLine,
                       std::size_t firstArgument, const std::string& startPage) {
  std::wstring page = Utf8ToWide(startPage);
  if (commandLine.present) AppendQueryArguments(page, commandLine.args, firstArgument);
  try {
    std::wstring text;
    if (ReadStartText(archive, text) && !text.empty()) AppendStartParameter(page, text);
  } catch (const amzip::AZError& error) {
    const std::wstring message = error.Message();
    DebugLog("error: extractbuffer(.start): %S\n", message.c_str());
    platform.ShowError(message);
  } catch (...) {
    DebugLog("fatal error: extractbuffer(.start).\n");
    platform.ShowError(L"fatal error: extractbuffer(.start).");
  }
  return page;
}

// The port of a BaseUrl "http://ADDRESS:PORT/"; 0 when the server did not get that far (the
// start failed before it listened).
unsigned ListeningPort(const std::string& baseUrl) {
  const std::size_t colon = baseUrl.rfind(':');
  if (baseUrl.compare(0, 7, "http://") != 0 || colon == std::string::npos || colon < 7 ||
      baseUrl.empty() || baseUrl.back() != '/') {
    return 0;
  }
  unsigned port = 0;
  const char* const end = baseUrl.data() + baseUrl.size() - 1;
  const auto [next, error] = std::from_chars(baseUrl.data() + colon + 1, end, port);
  return error == std::errc() && next == end ? port : 0;
}

// A digest of a page: its length and FNV-1a (64 bits) of its bytes, taken piece by piece.
struct PageDigest {
  std::uint64_t length = 0;
  std::uint64_t hash = 0xcbf29ce484222325ull;
  void Add(const char* bytes, std::size_t count) {
    length += count;
    for (std::size_t i = 0; i < count; ++i) {
      hash ^= static_cast<unsigned char>(bytes[i]);
      hash *= 0x100000001b3ull;
    }
  }
  bool operator==(const PageDigest&) const = default;
};

// The digest of the whole entry `name` (UTF-8) as this run reads it; false when it has none.
bool OwnPageDigest(amzip::ZipArchive& archive, const std::string& name, PageDigest& digest) {
  try {
    const std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(Utf8ToWide(name));
    if (!reader) return false;
    std::string piece(1 << 16, '\0');
    while (const std::size_t n = reader->Read(piece.data(), piece.size())) digest.Add(piece.data(), n);
    return true;
  } catch (...) {
    return false;
  }
}

// The address of the run that holds the course's profile, "" when it cannot be found. That run
// announces its port once its browser has started (a page handed over before that would start a
// browser of its own on the profile), and serves under the course's prefix; it is taken to be a
// run of this course only when it answers the course's start page there with the page this run
// reads from its own archive: another course answers nothing under this prefix, and another
// program on that port does not have this page.
std::wstring FirstRunUrl(Platform& platform, const std::wstring& profileDir, const std::string& prefix,
                         const std::string& probePage, const PageDigest* ownPage) {
  const std::uint16_t port = ServingPort(platform, profileDir);
  if (port == 0 || ownPage == nullptr) return std::wstring();
  int status = 0;
  std::string body;
  PageDigest answered;
  if (platform.LoopbackGet(port, "/" + prefix + probePage, 2000, status, body)) answered.Add(body.data(), body.size());
  if (status != 200 || !(answered == *ownPage)) return std::wstring();
  return AnsiToWide(FormatText("http://127.0.0.1:%u/", static_cast<unsigned>(port)) + prefix);
}

// The course's profile for this run. When another run holds it and serves the course with a
// page in its browser (it withdraws its address once its browser shows none), `firstRun` is
// that run's URL; when the holder cannot be found (a run ending or starting up, a removal
// holding it for a moment, another version of the course) it is asked again until its lock
// comes free, which gives this run the profile, for a while at most; then the run goes on
// without a profile.
CourseProfile TakeProfileOrFindFirstRun(Platform& platform, const std::wstring& identity,
                                        const std::string& prefix, amzip::ZipArchive& archive,
                                        const CourseLayout& layout, std::wstring& firstRun) {
  PageDigest ownPage;
  const bool hasPage = !layout.probePage.empty() && OwnPageDigest(archive, layout.root + layout.probePage, ownPage);
  for (int step = 0;; ++step) {
    CourseProfile profile = TakeCourseProfile(platform, identity);
    if (!profile.heldElsewhere) return profile;
    firstRun = FirstRunUrl(platform, profile.dir, prefix, layout.probePage, hasPage ? &ownPage : nullptr);
    if (!firstRun.empty()) return profile;
    if (step == kFirstRunSteps || !platform.Sleep(kFirstRunStepMs)) {
      DebugLog("the course's profile is held, and no run of it answers.\n");
      return CourseProfile{};
    }
  }
}

// Tells the learner that the course cannot have its own address: its saved progress belongs to
// that address (the origin), so the page may not show it, and another program may be posing as
// the course there.
void TellPortTaken(Platform& platform, unsigned wanted, unsigned got) {
  const std::string where = got >= kCoursePortFirst && got <= kCoursePortLast
                                ? FormatText("port %u", got)
                                : FormatText("port %u, one the system handed out", got);
  platform.ShowError(AnsiToWide(FormatText(
      "Another program uses this course's address (port %u on 127.0.0.1): the course opens on %s instead, where "
      "its saved progress may not show. Close the other program and open the course again.",
      wanted, where.c_str())));
}

// Starts `server` on the HttpPort setting; without one on the port the profile remembers, then
// the course's ports in order, then the system's choice, each on a new server object. When the
// remembered port is held by another program the learner is told so, and the port another run
// got is remembered only once the remembered one was found held on the run before too (a port
// held once, by a program passing by or posing as the course, keeps the course's address). The
// BaseUrl; "" after showing an error when no port could be used. A port the system chose is
// never remembered.
std::string StartServer(Platform& platform, HttpHandler& handler, std::unique_ptr<HttpServer>& server,
                        std::uint32_t setting, const std::wstring& identity, const std::wstring& profileDir) {
  if (setting != 0) {
    const std::string baseUrl = server->Start(setting);
    if (ListeningPort(baseUrl) != 0) return baseUrl;
    platform.ShowError(AnsiToWide(FormatText(
        "The course cannot be served: port %u on 127.0.0.1 could not be used.", setting & 0xFFFF)));
    return std::string();
  }
  std::vector<std::uint16_t> ports = CoursePorts(identity);
  const std::uint16_t own = ports.front();
  const std::uint16_t remembered = RememberedPort(platform, profileDir);
  if (remembered != 0) {
    ports.erase(std::remove(ports.begin(), ports.end(), remembered), ports.end());
    ports.insert(ports.begin(), remembered);
  }
  ports.push_back(0);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (i > 0) {
      DebugLog("port %u is taken; trying the next.\n", static_cast<unsigned>(ports[i - 1]));
      server = std::make_unique<HttpServer>(handler);
    }
    const std::string baseUrl = server->Start(ports[i]);
    const unsigned port = ListeningPort(baseUrl);
    if (port == 0) continue;
    const std::uint16_t wanted = remembered != 0 ? remembered : own;
    if (i == 0) {
      NoteWantedPortHeld(platform, profileDir, false);
      RememberPort(platform, profileDir, static_cast<std::uint16_t>(port));
    } else {
      // A course with progress of its own (a remembered port), or one moved into the system's
      // range, where its address changes from run to run.
      if (remembered != 0 || ports[i] == 0) TellPortTaken(platform, wanted, port);
      const bool heldBefore = NoteWantedPortHeld(platform, profileDir, true);
      // Never the system's choice: the next run would open in its range without a word.
      if ((heldBefore || remembered == 0) && ports[i] != 0) {
        RememberPort(platform, profileDir, static_cast<std::uint16_t>(port));
      }
    }
    return baseUrl;
  }
  platform.ShowError(L"The course cannot be served: no port on 127.0.0.1 could be used.");
  return std::string();
}

// The run's browser, which says where the run serves once the browser has asked for a page of
// the course: by then it holds the course's profile, so a second run's hand-over reaches this
// browser and cannot become a browser of its own that takes the profile first. The watch asks
// the browser something on every pass, which is when this is looked at.
class AnnouncingBrowser final : public Browser {
 public:
  AnnouncingBrowser(Platform& platform, std::unique_ptr<Browser> browser, LastRequestClock lastRequestMs,
                    std::function<void()> announce, std::function<void()> withdraw)
      : platform_(platform),
        browser_(std::move(browser)),
        lastRequestMs_(std::move(lastRequestMs)),
        announce_(std::move(announce)),
        withdraw_(std::move(withdraw)) {}
  bool Start() override {
    startedMs_ = platform_.NowMs();
    return browser_->Start();
  }
  ProcessState CheckProcess() override {
    AnnounceWhenUp();
    const ProcessState state = browser_->CheckProcess();
    if (state == ProcessState::kExited) Shown(false);
    return state;
  }
  PageCheck ShowsPageUnder(const std::wstring& prefix) override {
    AnnounceWhenUp();
    const PageCheck shown = browser_->ShowsPageUnder(prefix);
    if (shown != PageCheck::kCannotTell) Shown(shown == PageCheck::kShown);
    return shown;
  }
  void Close() override { browser_->Close(); }
  WatchRule Rule() const override { return browser_->Rule(); }

 private:
  // No page of the course (or no browser): a second run must not hand its page to a run that may
  // end before its browser shows it, so the address goes at once, and comes back with a page.
  void Shown(bool page) {
    if (!announced_ || page != withdrawn_) return;
    withdrawn_ = !page;
    withdrawn_ ? withdraw_() : announce_();
  }

  void AnnounceWhenUp() {
    if (announced_ || !(lastRequestMs_() != 0 || platform_.NowMs() - startedMs_ >= kAnnounceAnywayMs)) return;
    announced_ = true;
    announce_();
  }

  Platform& platform_;
  std::unique_ptr<Browser> browser_;
  LastRequestClock lastRequestMs_;
  std::function<void()> announce_;
  std::function<void()> withdraw_;
  std::uint64_t startedMs_ = 0;
  bool announced_ = false;
  bool withdrawn_ = false;
};

// Another run of the course has Firefox on its profile (one that outlived its run): this run's
// Firefox gets a profile of its own beside it ("firefox-2", ...).
void UseFreeFirefoxProfile(BrowserSystem& browsers, BrowserChoice& choice) {
  if (choice.kind != BrowserKind::kFirefox) return;
  const std::wstring first = choice.profileDir;
  for (int n = 2; n < 100 && browsers.FirefoxProfileInUse(choice.profileDir); ++n) {
    choice.profileDir = first + L"-" + std::to_wstring(n);
  }
  for (std::wstring& arg : choice.args) {
    if (arg == first) arg = choice.profileDir;
  }
  // It starts in its own profile folder, not in the one the other Firefox holds.
  choice.workingDir = choice.profileDir;
}

// The browser's choice for `url`, with the course's profile folder when there is one.
BrowserChoice ChooseCourseBrowser(Platform& platform, BrowserSystem& browsers, BrowserFacts facts,
                                  const std::wstring& profileDir, const std::wstring& url) {
  facts.profileDir = profileDir;
  BrowserChoice choice = ChooseBrowser(facts, url);
  UseFreeFirefoxProfile(browsers, choice);
  if (!choice.profileDir.empty() && !platform.MakeFolders(choice.profileDir)) {
    facts.profileDir.clear();
    choice = ChooseBrowser(facts, url);
  }
  return choice;
}

// The package's handler over `content`, its record loaded (what that found wrong told to the
// learner); null for a course that is no package.
std::unique_ptr<ScormHandler> OpenPackage(Platform& platform, const UserSettings& settings, HttpHandler& content,
                                          const CourseLayout& layout, const std::wstring& identity,
                                          const std::string& prefix) {
  if (!layout.package) return nullptr;
  ScormCourse course{layout.manifest, "imsmanifest.xml",
                     CurrentLearner(platform, settings.learnerName, layout.manifest.version)};
  auto package = std::make_unique<ScormHandler>(
      content, prefix, std::move(course), RecordStore(RecordPath(platform, identity)),
      [&platform] { return platform.UnixSeconds(); }, NewSessionToken);
  for (const std::string& notice : package->Notices()) platform.Notice(Utf8ToWide(notice));
  return package;
}

}  // namespace

std::size_t ArchiveCandidateIndex(const std::vector<std::wstring>& args) {
  if (args.empty()) return 0;
  std::wstring extension = FileExtension(args[0]);
  LowerAscii(extension);
  return extension == L"exe" ? 1 : 0;
}

int RunLauncher(Platform& platform, BrowserSystem& browsers, const UserSettings& settings,
                const CommandLine& commandLine) {
  DebugLog("program started.\n");
  // The run's objects, destroyed in reverse: the server (its thread stopped) before the handler
  // and the archive it reads, and the profile's lock last.
  CourseProfile profile;
  amzip::ZipArchive archive;
  OpenedCourse course;
  if (!OpenCourse(platform, archive, commandLine, course)) return 1;
  const CourseLayout layout = ReadCourseLayout(archive);
  const std::wstring identity = IdentityOf(platform, archive, course, layout);
  const std::string prefix = CoursePrefix(identity);
  const std::wstring startPage = StartPage(platform, archive, commandLine, course.firstArgument, layout.startPage);
  const std::uint32_t setting = settings.httpPort;

  std::wstring firstRun;
  profile = TakeProfileOrFindFirstRun(platform, identity, prefix, archive, layout, firstRun);
  if (!firstRun.empty()) {
    // The course is open already: its page goes to the browser that shows it, and this run ends.
    // The choice is the first run's, profile folder and all: the browser that holds it gets the page.
    DebugLog("the course is served already at '%S'.\n", firstRun.c_str());
    BrowserFacts facts = browsers.GatherFacts();
    facts.scormPackage = layout.package;
    facts.profileDir = profile.dir;
    const BrowserChoice choice = ChooseBrowser(facts, firstRun + startPage);
    if (StartHandOver(platform, choice)) return 0;
    platform.ShowError(NoBrowserMessage());
    return 1;
  }

  ArchiveHandler handler(archive, prefix, layout.root);
  // A package's own answers (the player, the record) stand in front of the archive's.
  std::unique_ptr<ScormHandler> package = OpenPackage(platform, settings, handler, layout, identity, prefix);
  HttpHandler& served = package ? static_cast<HttpHandler&>(*package) : handler;
  auto server = std::make_unique<HttpServer>(served);
  std::wstring sessionUrl;  // BaseUrl + prefix, e.g. http://127.0.0.1:24711/1a2b3c4d5e/
  std::string baseUrl;
  {
    std::unique_lock<std::mutex> opening = handler.HoldAnswers();
    baseUrl = StartServer(platform, served, server, setting, identity, profile.dir);
    if (baseUrl.empty()) return 1;  // no browser on a URL that cannot work
    handler.SetSessionUrl(baseUrl + prefix);
    if (package) package->SetSessionUrl(baseUrl + prefix);
    sessionUrl = AnsiToWide(baseUrl + prefix);
  }
  const std::wstring startUrl = sessionUrl + startPage;
  DebugLog("start url is '%S'\n", startUrl.c_str());

  bool started = false;
  {
    BrowserFacts facts = browsers.GatherFacts();
    facts.scormPackage = layout.package;  // its player needs a current browser
    const BrowserChoice choice = ChooseCourseBrowser(platform, browsers, facts, profile.dir, startUrl);
    const auto port = static_cast<std::uint16_t>(ListeningPort(baseUrl));
    const LastRequestClock lastRequestMs = [&server] { return server->LastScopedRequestMs(); };
    AnnouncingBrowser browser(platform, MakeBrowser(choice, platform, browsers, lastRequestMs), lastRequestMs,
                              [&] { AnnounceServingPort(platform, profile.dir, port); },
                              [&] { AnnounceServingPort(platform, profile.dir, 0); });
    started = LaunchAndWatch(platform, browser, sessionUrl);
    if (started) AnnounceServingPort(platform, profile.dir, 0);  // ending: no hand-over to this run
    // Tear-down: the browser (Internet Explorer's shell-windows object and COM with it), then
    // (leaving the function) the server with its thread, the handler, the archive and the
    // profile's lock.
  }
  if (started) return 0;
  platform.ShowError(NoBrowserMessage());
  return 1;
}

int PrintProgress(Platform& platform, const CommandLine& commandLine) {
  amzip::ZipArchive archive;
  OpenedCourse course;
  if (!OpenCourse(platform, archive, commandLine, course)) return 1;
  const CourseLayout layout = ReadCourseLayout(archive);
  if (!layout.package) {
    platform.ShowError(L"The course is no SCORM package (it has no imsmanifest.xml): it keeps no record.");
    return 1;
  }
  const std::wstring identity = IdentityOf(platform, archive, course, layout);
  RecordStore store(RecordPath(platform, identity));
  std::vector<std::string> notices;
  const nlohmann::json record = store.Load(platform.UnixSeconds(), &notices);
  for (const std::string& notice : notices) platform.Notice(Utf8ToWide(notice));
  const std::string report = ProgressReport(record, layout.manifest).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (platform.WriteOutput(report)) return 0;
  platform.ShowError(L"The record could not be written to standard output.");
  return 1;
}
