#include "net/transfer/FileTransferSource.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace TessaloyNet {
namespace {

[[noreturn]] void failWithErrno(int error, const char* what) {
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

FileTransferSource::FileTransferSource(const std::filesystem::path& path) {
    // Non-blocking, so that a named pipe fails at the seek below instead of waiting for a writer.
    do {
        descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (descriptor_ < 0 && errno == EINTR);
    if (descriptor_ < 0) failWithErrno(errno, "open");
    const off_t end = ::lseek(descriptor_, 0, SEEK_END);
    if (end < 0 || ::lseek(descriptor_, 0, SEEK_SET) != 0) {
        const int error = errno;
        close();
        failWithErrno(error, "lseek");
    }
    size_ = static_cast<std::uint64_t>(end);
}

FileTransferSource::~FileTransferSource() { close(); }

TessaloyCore::Bytes FileTransferSource::read(std::size_t maximumBytes) {
    if (descriptor_ < 0) failWithErrno(EBADF, "read");
    TessaloyCore::Bytes bytes(maximumBytes);
    std::size_t filled = 0;
    while (filled < maximumBytes) {
        const ssize_t count = ::read(descriptor_, bytes.data() + filled, maximumBytes - filled);
        if (count < 0) {
            if (errno == EINTR) continue;
            failWithErrno(errno, "read");
        }
        if (count == 0) break;
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return bytes;
}

void FileTransferSource::close() noexcept {
    if (descriptor_ < 0) return;
    // Linux releases the descriptor even when close() reports an error, so it is never retried.
    (void)::close(descriptor_);
    descriptor_ = -1;
}

} // namespace TessaloyNet
