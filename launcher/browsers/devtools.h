// What a Chromium-family browser's DevTools endpoint tells about its open pages. The text comes
// from another program, so everything here accepts any bytes.
#pragma once

#include <cstdint>
#include <string>

// The port in the first line of a DevToolsActivePort file (the second line is the browser's
// target path); 0 when the line is not a decimal port from 1 to 65535.
std::uint16_t DevToolsPortFromFile(const std::string& text);

// What the /json/list answer tells about pages whose URL begins with a prefix.
struct DevToolsPages {
  bool readable = false;   // the text is a JSON array (of anything)
  int pages = 0;           // entries whose "type" is "page"
  int matching = 0;        // of those, the ones whose "url" begins with the prefix
};

// Reads /json/list's array with nlohmann-json. `urlPrefix` is compared byte for byte with the
// UTF-8 of each "url", letter case included. Entries that are not objects, or whose "type" or
// "url" is not a string, are no pages. Malformed JSON gives readable false.
DevToolsPages ReadDevToolsPages(const std::string& json, const std::string& urlPrefix);
