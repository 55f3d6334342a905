// Content sniffing on POSIX: libmagic's MIME type (MAGIC_MIME_TYPE) of the leading bytes. The
// magic database is opened on first use (by the server thread) and closed at exit. Opening it
// needs a descriptor, which clients may all hold at that moment; a failed open is tried again,
// at most once a second, so the run does not answer "text/plain" for good.
#include <magic.h>

#include <chrono>
#include <mutex>

#include "content/content_types.h"

namespace {

constexpr char kProposedType[] = "text/plain";

class MagicCookie {
 public:
  MagicCookie() { Open(); }
  ~MagicCookie() {
    if (cookie_) magic_close(cookie_);
  }
  MagicCookie(const MagicCookie&) = delete;
  MagicCookie& operator=(const MagicCookie&) = delete;

  // libmagic's answer, or the proposed type when the database is not loaded or finds nothing.
  std::string Detect(const void* bytes, std::size_t length) {
    // A cookie is not safe for two threads at once; the server has one, tests may have more.
    std::lock_guard<std::mutex> lock(mutex_);
    if (!cookie_ && Clock::now() - lastAttempt_ >= kRetryPause) Open();
    if (!cookie_ || length == 0) return kProposedType;
    const char* type = magic_buffer(cookie_, bytes, length);
    if (!type || !*type) return kProposedType;
    return type;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kRetryPause{1};

  void Open() {
    lastAttempt_ = Clock::now();
    cookie_ = magic_open(MAGIC_MIME_TYPE);
    if (cookie_ && magic_load(cookie_, nullptr) != 0) {
      magic_close(cookie_);
      cookie_ = nullptr;
    }
  }

  magic_t cookie_ = nullptr;
  Clock::time_point lastAttempt_;
  std::mutex mutex_;
};

}  // namespace

std::string SniffContentType(const void* bytes, std::size_t length) {
  static MagicCookie magic;
  return magic.Detect(bytes, length);
}
