// Writing a file whole: the bytes go to a temporary file beside it, which is then renamed over
// it, so a reader never sees half a file and a failure leaves an existing file unchanged.
#pragma once

#include <filesystem>
#include <string_view>

namespace tovik {

// Writes all of bytes to fd, again after an interrupted or short write. Returns 0 or the errno.
int write_all(int fd, std::string_view bytes);

// Replaces path with bytes. The temporary file is ".<name>.<pid>.<n>.part" in path's directory
// (the allure results cleaner and the report generator rely on that shape) and is removed when
// anything fails. A replaced file keeps its permissions; a new one gets 0666 less the umask. With
// durable, the data reaches the disk before the rename (files a user keeps: workbooks, the
// variable file); without, results written by the hundred stay cheap. Returns 0, or the errno of
// the step that failed (EISDIR when path is a directory).
int replace_file(const std::filesystem::path& path, std::string_view bytes, bool durable);

// Whether files can be created in dir, creating it (and its parents) when missing: a probe file is
// created and removed. Returns 0, or the errno that stands in the way (ENOTDIR when a parent is a
// file, EACCES, EROFS, ...), so a report can be refused before a run rather than lost after it.
int probe_writable_dir(const std::filesystem::path& dir);

}  // namespace tovik
