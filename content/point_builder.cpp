// The builder's thread: one job at a time, in slices of kSlice output bytes, through the same
// checked reader every answer uses.
#include "content/point_builder.h"

#include "text/text.h"

PointBuilder::PointBuilder(amzip::ZipArchive& archive) : archive_(archive) {}

PointBuilder::~PointBuilder() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void PointBuilder::Want(const std::wstring& name, const amzip::EntryInfo& info) {
  // Entries keep their places only in a directory that loaded.
  if (info.stored || info.size < kLargeEntry || !archive_.IsLoaded() || archive_.HasAllAccessPoints(info)) return;
  try {
    std::lock_guard<std::mutex> hold(lock_);
    if (stop_ || !queued_.insert(info.entry).second) return;
    jobs_.push_back(Job{name, info});
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  } catch (...) {
    return;  // no memory or no thread: ranges go on making the points they pass
  }
  wake_.notify_one();
}

void PointBuilder::WaitIdle() {
  std::unique_lock<std::mutex> hold(lock_);
  idle_.wait(hold, [this] { return jobs_.empty() && !busy_; });
}

void PointBuilder::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [this] { return stop_ || !jobs_.empty(); });
    if (stop_) break;
    const Job job = jobs_.front();
    jobs_.pop_front();
    busy_ = true;
    hold.unlock();
    Build(job);
    hold.lock();
    queued_.erase(job.info.entry);
    busy_ = false;
    if (jobs_.empty()) idle_.notify_all();
  }
  busy_ = false;
  idle_.notify_all();
}

void PointBuilder::Build(const Job& job) {
  try {
    // A reader at the entry's end starts from its last point and inflates the rest, making the
    // points it passes; its last read runs the checks at the end, as every read's does.
    std::unique_ptr<amzip::EntryReader> reader = archive_.OpenEntry(job.name, job.info, job.info.size);
    if (!reader) return;
    while (!reader->Prepare(kSlice)) {
      std::lock_guard<std::mutex> hold(lock_);
      if (stop_) return;
    }
    char beyond;
    reader->Read(&beyond, 1);
  } catch (const amzip::AZError& error) {
    // The reader has dropped the entry's points; the next read of it fails as this one did.
    const std::wstring message = error.Message();
    DebugLog("access points of %S: %S\n", job.name.c_str(), message.c_str());
  } catch (...) {
  }
}
