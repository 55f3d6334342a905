// Whether a client takes a body in Content-Encoding "deflate", from its Accept-Encoding value.
#pragma once

#include <string_view>

// True when "deflate" is listed with a quality above 0, or "*" is and "deflate" is not listed.
// Codings compare without regard to case; "q=0", "q=0.0" and "q=0.000" refuse. An empty
// value (or none) accepts no coding but the identity.
bool AcceptsDeflate(std::string_view acceptEncoding);
