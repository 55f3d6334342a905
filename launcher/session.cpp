#include "launcher/session.h"

// Defined together so that they are constructed in this order and destroyed in reverse.
amzip::ZipArchive TheArchive;
std::string SessionPrefix;
std::wstring SessionUrl;
