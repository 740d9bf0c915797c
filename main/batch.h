// The batch run: banner, the loop over the arguments, the per-photo sequence
// with its scratch files, and the error report that ends a failed run.
#pragma once

#include <string>

namespace shrinkwell {

// The whole program; returns the exit status: 0 after a normal run, 1 after
// the error report, 2 when some photo's copy could not be stored or some
// photo named was not found or is no file.
int RunBatch();

// Decimal digits of value, zero-filled on the left to at least width.
std::string ZeroPad(int value, int width);

// The extension of an 8-bit path: from its last ".", "\", ":" or "/" to the
// end when that character is ".", else empty.
std::string ExtensionOf(const std::string& path);

// True for ".JPG" and ".JPEG" in any letter case.
bool IsJpegExtension(const std::string& extension);

// The output name: the argument with "+" put before its extension.
std::u16string OutputNameFor(const std::u16string& argument, const std::u16string& extension);

}  // namespace shrinkwell
