// The kit's targets: the launchers orvane-zip finds beside itself, under
// launchers/TARGET/ (orvane.exe for Windows, orvane for Linux), and packing for several at once.
#pragma once

#include <string>
#include <vector>

#include "tools/orvane-zip/pack.h"

namespace orvanezip {

struct Target {
  const wchar_t* name;     // windows-x86, windows-x64, linux-x86_64, linux-arm64
  const wchar_t* program;  // the launcher's file name in its folder
  bool windows;
};

// Every target, in the order --all packs them.
const std::vector<Target>& KitTargets();
// The target of that name; null when there is none.
const Target* FindTarget(const std::wstring& name);
// The kit's launcher for `target`: launchers/NAME/PROGRAM in orvane-zip's own folder.
std::wstring KitLauncher(const Target& target);
// "windows-x86, windows-x64, ...", for messages.
std::wstring TargetNames();

// Packs SOURCE once per target into the folder `request.output` (made when missing), each
// output named after SOURCE with the target: course-windows-x64.exe, course-linux-arm64 (with
// request.tar: course-linux-arm64.tar.gz), all with one course ID. --icon and --title go to the
// Windows targets only.
// The exit status of Pack: 0 when every target was packed.
int PackTargets(const PackRequest& request, const std::vector<const Target*>& targets);

}  // namespace orvanezip
