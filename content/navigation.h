// The rewrite of navigation files ("kxv") before they are served: their 'wa_base' entry is set
// to the run's session URL.
#pragma once

#include <string>

// Bytes are searched as ASCII; nothing is decoded. An entry written 'wa_base':'old' (no blanks)
// is replaced, together with the last "," before it, by ",\n'wa_base':'<sessionUrl>'"; with no
// such entry (or one whose value has no closing quote) that text is inserted before the last
// "}"; a body with neither is left unchanged.
void FixNavigationFile(std::string& body, const std::string& sessionUrl);
