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

}  // namespace shrinkwell
