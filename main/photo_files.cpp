// The parts of the photo's files that every platform shares.
#include "photo_files.h"

#include <mutex>
#include <utility>

namespace shrinkwell {

namespace {

std::mutex& EventsLock() {
  static std::mutex lock;
  return lock;
}

TFileEvents& Events() {
  static TFileEvents events;
  return events;
}

}  // namespace

TOwnFile::TOwnFile(std::unique_ptr<TFileStream> stream, std::u16string name, const TFileIdentity& identity,
                   std::unique_ptr<TRemovedOnInterrupt> interruption, bool unique)
    : stream_(std::move(stream)),
      name_(std::move(name)),
      identity_(identity),
      interruption_(std::move(interruption)),
      unique_(unique) {}

TOwnFile::~TOwnFile() { RemoveName(); }

void TOwnFile::NameGone() {
  named_ = false;
  interruption_.reset();
}

std::unique_ptr<TFileStream> TOwnFile::ReleaseStream() {
  RemoveName();
  return std::move(stream_);
}

TOpenedPhoto::TKind CheckedSize(const TOpenedPhoto& photo, int64_t sizeLimit) {
  if (photo.size > sizeLimit) return TOpenedPhoto::TKind::TooLarge;
  if (photo.size - photo.stored > (int64_t{64} << 20)) return TOpenedPhoto::TKind::Hollow;
  return TOpenedPhoto::TKind::Opened;
}

void SetFileEvents(TFileEvents events) {
  const std::lock_guard<std::mutex> lock(EventsLock());
  Events() = std::move(events);
}

void TellFileEvent(std::function<void(const std::string&)> TFileEvents::*which, const std::u16string& name) {
  std::function<void(const std::string&)> listener;
  {
    const std::lock_guard<std::mutex> lock(EventsLock());
    listener = Events().*which;
  }
  if (listener) listener(ToNarrow(name));
}

}  // namespace shrinkwell
