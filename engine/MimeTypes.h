#pragma once
// Content types and file extensions from the system's mime.types file, new
// multipart boundaries, and file names made safe for the file system.
#include <string>
#include <string_view>

// The mime.types file to read (default /etc/mime.types); tests point it at
// a file of their own. The file is read again after a change.
void SetMimeTypesPath(std::string path);
[[nodiscard]] std::string MimeTypesPath();

[[nodiscard]] std::string ContentTypeForFile(std::string_view fileName);
[[nodiscard]] std::string ExtensionForContentType(std::string_view contentType);
[[nodiscard]] std::string NewBoundary();
[[nodiscard]] std::string SafeFileName(std::string_view name);
