// AnswerCache: whole answers of small entries, kept once a checked read has produced them, so
// that a page asked for again costs a lookup and a send. An answer is kept under the request's
// raw path (as sent, before any decoding) and may hold two forms: the plain bytes, and for a
// deflated entry the deflate stream as stored. Bounded in total bytes, the least recently used
// answer leaving first. Used by the server thread alone: no lock.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

class AnswerCache {
 public:
  // One form of an answer: its head up to the Expires line (which changes every second and
  // is added when it is sent) and its body, shared with answers still being sent.
  struct Form {
    std::string headStart;
    std::shared_ptr<const char[]> body;
    std::size_t size = 0;  // of `body`
    bool Empty() const { return body == nullptr; }
  };
  struct Answer {
    Form plain;
    Form deflated;
    // The entry may be sent as its deflate stream to a client that takes deflate; an answer
    // without that form yet is not one for such a client.
    bool deflatable = false;
  };

  // Bodies larger than `largest` are not kept; the bodies kept add up to at most `capacity`.
  AnswerCache(std::size_t capacity, std::size_t largest) : capacity_(capacity), largest_(largest) {}

  // The answer kept under `key`, now the most recently used; null when there is none.
  Answer* Find(std::string_view key);
  // Keeps `form` as the plain or deflated form under `key` (replacing that form), making room
  // by dropping the least recently used answers. A body larger than the limit is not kept.
  void Put(std::string_view key, Form form, bool deflated, bool deflatable);
  void Clear();
  std::size_t Bytes() const { return bytes_; }

 private:
  struct Slot {
    std::string key;
    Answer answer;
  };
  static std::size_t Size(const Answer& answer);
  void Trim();

  const std::size_t capacity_;
  const std::size_t largest_;
  std::size_t bytes_ = 0;
  std::list<Slot> order_;  // most recently used first
  std::unordered_map<std::string_view, std::list<Slot>::iterator> index_;  // views of Slot::key
};
