#include "file_stream.h"

#include <algorithm>
#include <cstring>

#include "errors.h"

namespace shrinkwell {

void TStream::ReadBuffer(void* buffer, size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream-Lesefehler");
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
  const size_t at = static_cast<size_t>(position_);
  const size_t taken = at < size_ ? std::min(count, size_ - at) : 0;
  if (taken > 0) std::memcpy(buffer, data_ + at, taken);
  position_ += static_cast<int64_t>(taken);
  return taken;
}

void TMemoryStream::WriteBuffer(const void*, size_t) { throw EWriteError("Stream-Schreibfehler"); }

size_t TReadAheadStream::Read(void* buffer, size_t count) {
  char* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (at_ == end_) {
      if (count - done >= block_.size()) {
        const size_t got = source_.Read(out + done, count - done);
        done += got;
        break;
      }
      at_ = 0;
      end_ = source_.Read(block_.data(), block_.size());
      if (end_ == 0) break;
    }
    const size_t taken = std::min(count - done, end_ - at_);
    std::memcpy(out + done, block_.data() + at_, taken);
    at_ += taken;
    done += taken;
  }
  position_ += static_cast<int64_t>(done);
  return done;
}

void TReadAheadStream::WriteBuffer(const void*, size_t) { throw EWriteError("Stream-Schreibfehler"); }

}  // namespace shrinkwell
