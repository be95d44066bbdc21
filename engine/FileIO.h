#pragma once
// File access shared by the engine. Failures raise EFOpenError.
#include <functional>
#include <string>
#include <string_view>

[[nodiscard]] std::string ReadWholeFile(const std::string& fileName);
// The same, calling read with everything read so far after each piece of
// at most a few hundred kilobytes, while that piece is still in the cache.
[[nodiscard]] std::string ReadWholeFile(const std::string& fileName,
                                        const std::function<void(std::string_view)>& read);
// Writes a file through writer's sink. Without overwrite an existing file is
// an error and is never touched; with it the old file is replaced only once
// the new one is complete. A failed write leaves no partial file behind.
void WriteFileSafely(const std::string& fileName, bool overwrite,
                     const std::function<void(const std::function<void(std::string_view)>&)>& writer);
// The file name without its folder.
[[nodiscard]] std::string BaseName(std::string_view path);
