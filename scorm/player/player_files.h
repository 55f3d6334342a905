// The player's own files (its page, script, style and the SCORM runtime library it loads),
// built into the launcher as byte arrays when the launcher is built.
#pragma once

#include <string_view>

struct PlayerFile {
  std::string_view name;   // e.g. "player.html", as asked for under .orvane/
  std::string_view type;   // its Content-Type
  std::string_view bytes;  // the whole file
};

// The player's own files, built into the launcher; null for a name it does not have.
const PlayerFile* FindPlayerFile(std::string_view name);
