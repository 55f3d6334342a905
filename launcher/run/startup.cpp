// The start-up sequence and tear-down. Every step runs once, in order; failures of one step are
// shown or logged and the run goes on, so the program always ends with exit code 0.
#include "launcher/run/startup.h"

#include <charconv>
#include <memory>
#include <mutex>

#include "amzip/archive.h"
#include "amzip/error.h"
#include "content/archive_handler.h"
#include "http/server.h"
#include "launcher/browsers/browser.h"
#include "launcher/run/course_profile.h"
#include "launcher/os/platform.h"
#include "launcher/run/session.h"
#include "launcher/run/watch.h"
#include "text/text.h"
#include "text/url.h"

namespace {

// The archive candidate when it names a file (not a directory); "" otherwise.
std::wstring CandidateFile(Platform& platform, const CommandLine& commandLine) {
  if (!commandLine.present || commandLine.candidate >= commandLine.args.size()) return L"";
  const std::wstring& candidate = commandLine.args[commandLine.candidate];
  return platform.IsExistingFile(candidate) ? candidate : L"";
}

// Opens the candidate archive, if it names a file, and appends the arguments after it to the
// start URL's query. The candidate is consumed either way.
void HandleCommandLine(Platform& platform, amzip::ZipArchive& archive, const CommandLine& commandLine,
                       const std::wstring& candidateFile, std::wstring& startUrl) {
  if (!commandLine.present || commandLine.candidate >= commandLine.args.size()) return;
  if (!candidateFile.empty()) {
    DebugLog("trying to open zip '%S'.\n", candidateFile.c_str());
    try {
      archive.OpenFile(candidateFile);
    } catch (const amzip::AZError& error) {
      platform.ShowError(error.Message());
    } catch (...) {
      platform.ShowError(L"Fatal error while trying to open archive");
    }
  }
  AppendQueryArguments(startUrl, commandLine.args, commandLine.candidate + 1);
}

// The archive carried by the executable, when the command line opened none.
void OpenEmbeddedArchiveIfNone(amzip::ZipArchive& archive) {
  if (archive.IsOpen()) return;
  try {
    archive.OpenResource(L"RT_ZIP", amzip::ResourceId(777));
  } catch (...) {
    DebugLog("fatal extract from resource error.\n");
  }
}

// Appends "?show=" and the ".start" text; a failed read is shown and the URL stays as it was.
void AppendStartText(Platform& platform, amzip::ZipArchive& archive, std::wstring& startUrl) {
  try {
    std::wstring text;
    if (ReadStartText(archive, text) && !text.empty()) startUrl += L"?show=" + text;
  } catch (const amzip::AZError& error) {
    const std::wstring message = error.Message();
    DebugLog("error: extractbuffer(.start): %S\n", message.c_str());
    platform.ShowError(message);
  } catch (...) {
    DebugLog("fatal error: extractbuffer(.start).\n");
    platform.ShowError(L"fatal error: extractbuffer(.start).");
  }
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

// Starts `server` on the HttpPort setting, or without one on the course's own port, and when
// that is taken on a second server object on the system's choice. The BaseUrl; "" after showing
// an error when no port could be used.
std::string StartServer(Platform& platform, HttpHandler& handler, std::unique_ptr<HttpServer>& server,
                        std::uint32_t setting, const std::wstring& identity) {
  const std::uint32_t port = setting != 0 ? setting : CoursePort(identity);
  std::string baseUrl = server->Start(port);
  if (ListeningPort(baseUrl) != 0) return baseUrl;
  if (setting == 0) {
    DebugLog("the course's port %u is taken; the system chooses.\n", port);
    server = std::make_unique<HttpServer>(handler);
    baseUrl = server->Start(0);
    if (ListeningPort(baseUrl) != 0) return baseUrl;
  }
  platform.ShowError(AnsiToWide(
      setting != 0 ? FormatText("The course cannot be served: port %u on 127.0.0.1 could not be used.",
                                setting & 0xFFFF)
                   : std::string("The course cannot be served: no port on 127.0.0.1 could be used.")));
  return std::string();
}

// Another run of the course has Firefox on its profile: this run's Firefox gets a profile of its
// own beside it ("firefox-2", ...). Its origin differs anyway, since the two runs cannot share
// the course's port.
void UseFreeFirefoxProfile(Platform& platform, BrowserChoice& choice) {
  if (choice.kind != BrowserKind::kFirefox) return;
  const std::wstring first = choice.profileDir;
  for (int n = 2; n < 100 && platform.FirefoxProfileInUse(choice.profileDir); ++n) {
    choice.profileDir = first + L"-" + std::to_wstring(n);
  }
  for (std::wstring& arg : choice.args) {
    if (arg == first) arg = choice.profileDir;
  }
}

// The browser for the start URL: the choice, with the course's profile folder made (and old
// ones removed) only when the choice is a browser of the course's own.
std::unique_ptr<Browser> ChooseCourseBrowser(Platform& platform, BrowserFacts facts,
                                             const std::wstring& identity,
                                             const std::wstring& startUrl,
                                             const HttpServer& server) {
  facts.profileDir = L"-";  // any folder: is the choice one that wants a profile?
  BrowserChoice choice = ChooseBrowser(facts, startUrl);
  if (!choice.profileDir.empty()) {
    facts.profileDir = PrepareCourseProfile(platform, identity);
    choice = ChooseBrowser(facts, startUrl);
    UseFreeFirefoxProfile(platform, choice);
    if (!choice.profileDir.empty() && !platform.MakeFolders(choice.profileDir)) {
      facts.profileDir.clear();
      choice = ChooseBrowser(facts, startUrl);
    }
  }
  return MakeBrowser(choice, platform, [&server] { return server.LastScopedRequestMs(); });
}

}  // namespace

std::size_t ArchiveCandidateIndex(const std::vector<std::wstring>& args) {
  if (args.empty()) return 0;
  std::wstring extension = FileExtension(args[0]);
  LowerAscii(extension);
  return extension == L"exe" ? 1 : 0;
}

int RunLauncher(Platform& platform, const CommandLine& commandLine) {
  DebugLog("program started.\n");
  const std::string sessionPrefix = FormatSessionPrefix(platform.TickCount());
  // The run's objects, destroyed in reverse: the server (its thread stopped) before the handler
  // and the archive it reads.
  amzip::ZipArchive archive;
  ArchiveHandler handler(archive, sessionPrefix);
  auto server = std::make_unique<HttpServer>(handler);
  {
    const std::uint32_t setting = platform.ReadHttpPort();
    const std::wstring candidateFile = CandidateFile(platform, commandLine);
    const std::wstring identity =
        CourseIdentity(candidateFile.empty() ? platform.OwnProgramPath() : candidateFile);
    const std::wstring widePrefix = AnsiToWide(sessionPrefix);
    std::wstring sessionUrl;  // BaseUrl + prefix, e.g. http://127.0.0.1:4711/1a2b3c/
    std::wstring startUrl;
    BrowserFacts facts;
    bool serving = false;
    {
      // The server listens before the archive is open: a request that arrives meanwhile waits
      // here, then is answered from it.
      std::unique_lock<std::mutex> opening = handler.HoldAnswers();
      const std::string baseUrl = StartServer(platform, handler, server, setting, identity);
      serving = !baseUrl.empty();
      handler.SetSessionUrl(baseUrl + sessionPrefix);
      sessionUrl = AnsiToWide(baseUrl) + widePrefix;
      startUrl = sessionUrl + L"index.html";
      if (serving) facts = platform.GatherBrowserFacts();

      HandleCommandLine(platform, archive, commandLine, candidateFile, startUrl);
      OpenEmbeddedArchiveIfNone(archive);
      AppendStartText(platform, archive, startUrl);
    }
    DebugLog("start url is '%S'\n", startUrl.c_str());

    // No browser on a URL that cannot work.
    if (serving) {
      std::unique_ptr<Browser> browser =
          ChooseCourseBrowser(platform, std::move(facts), identity, startUrl, *server);
      LaunchAndWatch(platform, *browser, sessionUrl);
      // Tear-down: the browser (Internet Explorer's shell-windows object and COM with it), then
      // (leaving this block) the start URL, and last (leaving the function) the server with its
      // thread, the handler and the archive.
    }
  }
  return 0;
}
