// What the Windows stand-in browsers share: where they record (%ORVANE_E2E_OUT%), UTF-8 text, and
// fetching a start URL from the launcher's server as a browser would.
#pragma once

#include <cstdint>
#include <string>

namespace stand_in {

// The folder named by ORVANE_E2E_OUT; "" when it is not set.
std::wstring OutFolder();

std::string Utf8(const std::wstring& text);

// Writes `bytes` to `folder`\`name`, replacing what was there.
void Record(const std::wstring& folder, const std::wstring& name, const std::string& bytes);

// The request target of an http://127.0.0.1:PORT/... URL's UTF-8 text, escaped as a browser
// sends it, and its port; "" when the URL is not of that form.
std::string Target(const std::string& url, std::uint16_t& port);

// GETs `target` from 127.0.0.1:`port`: the status code, a line feed and the body, or "failed\n".
std::string Fetch(std::uint16_t port, const std::string& target);

}  // namespace stand_in
