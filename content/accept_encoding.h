// Whether a client takes a body in Content-Encoding "deflate", from its Accept-Encoding value.
#pragma once

#include <string_view>

// True when "deflate" is listed with a quality above 0, or "*" is and "deflate" is not listed.
// Codings compare without regard to case. Accepted: elements "CODING" or "CODING;q=QVALUE",
// blanks around them, QVALUE by HTTP's grammar ("0" to "1", three decimals at most). A weight
// of zero ("q=0", "q=0.000"), or any other parameter ("q=-1", "q=0e0", "q=1.5"), refuses. An
// empty value (or none) accepts no coding but the identity.
bool AcceptsDeflate(std::string_view acceptEncoding);
