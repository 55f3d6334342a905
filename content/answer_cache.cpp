#include "content/answer_cache.h"

#include <utility>

std::size_t AnswerCache::Size(const Answer& answer) {
  std::size_t size = 0;
  for (const Form* form : {&answer.plain, &answer.deflated}) {
    if (!form->Empty()) size += form->headStart.size() + form->size;
  }
  return size;
}

AnswerCache::Answer* AnswerCache::Find(std::string_view key) {
  const auto found = index_.find(key);
  if (found == index_.end()) return nullptr;
  if (found->second != order_.begin()) order_.splice(order_.begin(), order_, found->second);
  return &found->second->answer;
}

void AnswerCache::Put(std::string_view key, Form form, bool deflated, bool deflatable) {
  if (form.body == nullptr || form.size > largest_) return;
  Answer* answer = Find(key);
  if (answer == nullptr) {
    order_.push_front(Slot{std::string(key), Answer()});
    index_.emplace(order_.front().key, order_.begin());
    answer = &order_.front().answer;
  }
  bytes_ -= Size(*answer);
  (deflated ? answer->deflated : answer->plain) = std::move(form);
  answer->deflatable = deflatable;
  bytes_ += Size(*answer);
  Trim();
}

void AnswerCache::Trim() {
  // The newest answer stays even if it alone were over the bound (it is at most `largest_`).
  while (bytes_ > capacity_ && order_.size() > 1) {
    Slot& oldest = order_.back();
    bytes_ -= Size(oldest.answer);
    index_.erase(oldest.key);
    order_.pop_back();
  }
}

void AnswerCache::Clear() {
  index_.clear();
  order_.clear();
  bytes_ = 0;
}
