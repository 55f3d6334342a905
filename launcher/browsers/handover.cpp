// The hand-over start of a second run; see handover.h.
#include "launcher/browsers/handover.h"

#include "launcher/os/platform.h"

BrowserChoice HandOverChoice(const BrowserChoice& choice) {
  BrowserChoice handOver = choice;
  if (choice.kind != BrowserKind::kChromium && choice.kind != BrowserKind::kFirefox) return handOver;
  // The profile words say which instance; the URL is the choice's last word. Nothing that
  // would start a browser of its own (a debugging endpoint, a new instance).
  handOver.args.clear();
  if (choice.kind == BrowserKind::kChromium) {
    handOver.args.push_back(L"--user-data-dir=" + choice.profileDir);
  } else {
    handOver.args.push_back(L"-profile");
    handOver.args.push_back(choice.profileDir);
  }
  if (!choice.args.empty()) handOver.args.push_back(choice.args.back());
  return handOver;
}

bool StartHandOver(Platform& platform, const BrowserChoice& choice) {
  if (choice.program.empty()) return false;
  return platform.StartProcess(ProgramStartOf(HandOverChoice(choice))) != nullptr;
}
