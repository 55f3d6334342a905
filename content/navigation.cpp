#include "content/navigation.h"

#include "text/text.h"

void FixNavigationFile(std::string& body, const std::string& sessionUrl) {
  static constexpr char kKey[] = "'wa_base'";
  static constexpr std::size_t kKeyLength = sizeof kKey - 1;
  const std::string entry = ",\n" + std::string(kKey) + ":'" + sessionUrl + "'";

  const std::size_t key = body.find(kKey);
  if (key != std::string::npos) {
    // The old value starts after the key, its colon and its opening quote.
    const std::size_t closing = body.find('\'', key + kKeyLength + 2);
    if (closing == std::string::npos) {
      DebugLog("kxv fix failed [2]\n");
    } else {
      const std::size_t comma = body.rfind(',', key);
      const std::size_t start = comma == std::string::npos ? key : comma;
      body.replace(start, closing + 1 - start, entry);
      return;
    }
  }
  const std::size_t brace = body.rfind('}');
  if (brace == std::string::npos) {
    DebugLog("kxv fix failed [1]\n");
    return;
  }
  body.insert(brace, entry);
}
