// The start-up sequence and tear-down. Every step runs once, in order; failures of one step are
// shown or logged and the run goes on, so the program always ends with exit code 0.
#include "launcher/startup.h"

#include <mutex>

#include "amzip/archive.h"
#include "amzip/error.h"
#include "content/archive_handler.h"
#include "http/server.h"
#include "launcher/session.h"
#include "launcher/watch.h"
#include "text/text.h"
#include "text/url.h"

namespace {

// Opens the archive named by the candidate argument, if it names a file, and appends the
// arguments after it to the start URL's query. The candidate is consumed either way.
void HandleCommandLine(LauncherEnv& env, amzip::ZipArchive& archive, const CommandLine& commandLine,
                       std::wstring& startUrl) {
  if (!commandLine.present || commandLine.args.empty()) return;
  std::size_t k = commandLine.candidate;
  if (k >= commandLine.args.size()) return;
  const std::wstring& candidate = commandLine.args[k];
  if (env.IsExistingFile(candidate)) {
    DebugLog("trying to open zip '%S'.\n", candidate.c_str());
    try {
      archive.OpenFile(candidate);
    } catch (const amzip::AZError& error) {
      env.ShowError(error.Message());
    } catch (...) {
      env.ShowError(L"Fatal error while trying to open archive");
    }
  }
  AppendQueryArguments(startUrl, commandLine.args, k + 1);
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
void AppendStartText(LauncherEnv& env, amzip::ZipArchive& archive, std::wstring& startUrl) {
  try {
    std::wstring text;
    if (ReadStartText(archive, text) && !text.empty()) startUrl += L"?show=" + text;
  } catch (const amzip::AZError& error) {
    const std::wstring message = error.Message();
    DebugLog("error: extractbuffer(.start): %S\n", message.c_str());
    env.ShowError(message);
  } catch (...) {
    DebugLog("fatal error: extractbuffer(.start).\n");
    env.ShowError(L"fatal error: extractbuffer(.start).");
  }
}

}  // namespace

std::size_t ArchiveCandidateIndex(const std::vector<std::wstring>& args) {
  if (args.empty()) return 0;
  std::wstring extension = FileExtension(args[0]);
  LowerAscii(extension);
  return extension == L"exe" ? 1 : 0;
}

int RunLauncher(LauncherEnv& env, const CommandLine& commandLine) {
  DebugLog("program started.\n");
  SessionPrefix = FormatSessionPrefix(env.TickCount());
  env.BeginComApartment();
  // The run's objects, destroyed in reverse: the server (its thread stopped) before the handler
  // and the archive it reads.
  amzip::ZipArchive archive;
  ArchiveHandler handler(archive, SessionPrefix);
  HttpServer server(handler);
  {
    const std::uint32_t port = env.ReadHttpPort();
    const std::wstring widePrefix = AnsiToWide(SessionPrefix);
    std::wstring startUrl;
    {
      // The server listens before the archive is open: a request that arrives meanwhile waits
      // here, then is answered from it.
      std::unique_lock<std::mutex> opening = handler.HoldAnswers();
      const std::string baseUrl = server.Start(port);
      handler.SetSessionUrl(baseUrl + SessionPrefix);
      SessionUrl = AnsiToWide(baseUrl) + widePrefix;
      startUrl = SessionUrl + L"index.html";

      HandleCommandLine(env, archive, commandLine, startUrl);
      OpenEmbeddedArchiveIfNone(archive);
      AppendStartText(env, archive, startUrl);
    }
    DebugLog("start url is '%S'\n", startUrl.c_str());

    LaunchAndWatch(env, server, startUrl);

    // Tear-down: the probe's cached object, COM, then (leaving this block) the start URL, and
    // last (leaving the function) the server with its thread, the handler and the archive.
    env.ReleaseProbe();
    env.EndComApartment();
  }
  return 0;
}
