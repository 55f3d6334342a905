// Reading what a Chromium-family browser's DevTools endpoint tells about its open pages.
#pragma once

#include <cstdint>
#include <string>

// The port in the first line of a DevToolsActivePort file (the second line is the browser's
// target path); 0 when the line is not a port number from 1 to 65535.
std::uint16_t DevToolsPortFromFile(const std::string& text);

// True when `json`, the array that /json/list answers, holds an object whose "type" is "page"
// and whose "url" begins with `urlPrefix` (an ASCII text, compared byte for byte, letter case
// included; JSON escapes in the URL are decoded first). Malformed JSON gives false.
bool DevToolsListHasPage(const std::string& json, const std::string& urlPrefix);
