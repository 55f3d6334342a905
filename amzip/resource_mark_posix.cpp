// The launcher's mark (embedded.h): a section of its own in every program that finds an archive
// appended to itself. Linked through orvane_launcher_mark, never into orvane-zip.
namespace {

// The same text as amzip::kLauncherMarkText, in the section named by kLauncherMarkSection.
[[gnu::used, gnu::section(".orvane")]] const char kMark[] = "orvane launcher";

}  // namespace
