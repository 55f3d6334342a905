// PointBuilder: completes the access points of large deflated entries away from the server
// thread. Once a client has asked for a range into such an entry (a video it seeks in), one
// background thread inflates the entry from its last point to its end, in slices, one entry at
// a time, so that later ranges anywhere in it start from a point near their offset. Ranges
// meanwhile still make and use the points they pass themselves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "amzip/archive.h"

class PointBuilder {
 public:
  // Entries smaller than this are inflated from their start quickly enough.
  static constexpr std::uint64_t kLargeEntry = 16u << 20;
  // Output inflated between two looks at whether the builder is to stop.
  static constexpr std::uint64_t kSlice = 4u << 20;

  // `archive` must outlive the builder, and stay open while it runs.
  explicit PointBuilder(amzip::ZipArchive& archive);
  // Stops within a slice and joins the thread.
  ~PointBuilder();
  PointBuilder(const PointBuilder&) = delete;
  PointBuilder& operator=(const PointBuilder&) = delete;

  // Queues the entry found as `info` under `name` unless it is small, stored, queued already or
  // has all its points. Starts the thread on first use. Never throws.
  void Want(const std::wstring& name, const amzip::EntryInfo& info);
  // Waits until the queue is empty and nothing is being built (tests, benchmarks).
  void WaitIdle();

 private:
  struct Job {
    std::wstring name;
    amzip::EntryInfo info;
  };
  void Run();
  void Build(const Job& job);

  amzip::ZipArchive& archive_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Job> jobs_;
  std::unordered_set<const amzip::ZipEntry*> queued_;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;
};
