#include "db/access/read/page_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace db::access::read {
namespace {

class DecodedPages {
 public:
  DecodedPages(int fd, std::uint64_t pages, std::size_t pageSize,
               std::shared_ptr<const format::PageCodec> codec)
      : fd_(fd), pages_(pages), pageSize_(pageSize), codec_(std::move(codec)) {}
  ~DecodedPages() { ::close(fd_); }

  std::uint64_t size() const { return pages_ * pageSize_; }

  // Copies up to `n` bytes from the current position; -1 with errno on a read error.
  ssize_t read(char* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n && position_ < size()) {
      std::uint64_t page = position_ / pageSize_;
      std::size_t at = static_cast<std::size_t>(position_ % pageSize_);
      const std::vector<unsigned char>* plain = load(page);
      if (!plain) return done > 0 ? static_cast<ssize_t>(done) : -1;
      std::size_t count = std::min(n - done, pageSize_ - at);
      std::memcpy(out + done, plain->data() + at, count);
      done += count;
      position_ += count;
    }
    return static_cast<ssize_t>(done);
  }

  int seek(off64_t* offset, int whence) {
    std::int64_t base = whence == SEEK_SET   ? 0
                        : whence == SEEK_CUR ? static_cast<std::int64_t>(position_)
                        : whence == SEEK_END ? static_cast<std::int64_t>(size())
                                             : -1;
    if (base < 0 || *offset < -base) {
      errno = EINVAL;
      return -1;
    }
    position_ = static_cast<std::uint64_t>(base + *offset);
    *offset = static_cast<off64_t>(position_);
    return 0;
  }

 private:
  struct Cached {
    std::uint64_t page = 0;
    std::uint64_t used = 0;  // when it was last asked for; 0: empty
    std::vector<unsigned char> bytes;
  };

  const std::vector<unsigned char>* load(std::uint64_t page) {
    ++clock_;
    Cached* slot = &cache_[0];
    for (Cached& c : cache_) {
      if (c.used && c.page == page) {
        c.used = clock_;
        return &c.bytes;
      }
      if (c.used < slot->used) slot = &c;
    }
    slot->used = 0;
    slot->bytes.resize(pageSize_);
    std::size_t got = 0;
    while (got < pageSize_) {
      ssize_t r = ::pread(fd_, slot->bytes.data() + got, pageSize_ - got,
                          static_cast<off_t>(page * pageSize_ + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        if (r == 0) errno = EIO;  // the file was cut since it was opened
        return nullptr;
      }
      got += static_cast<std::size_t>(r);
    }
    try {
      codec_->decode(static_cast<std::uint32_t>(page), slot->bytes);
    } catch (...) {
      errno = EIO;
      return nullptr;
    }
    slot->page = page;
    slot->used = clock_;
    return &slot->bytes;
  }

  int fd_;
  std::uint64_t pages_;
  std::size_t pageSize_;
  std::shared_ptr<const format::PageCodec> codec_;
  std::uint64_t position_ = 0;
  std::uint64_t clock_ = 0;
  Cached cache_[kCachedPages];
};

ssize_t ReadPages(void* cookie, char* out, size_t n) {
  return static_cast<DecodedPages*>(cookie)->read(out, n);
}
int SeekPages(void* cookie, off64_t* offset, int whence) {
  return static_cast<DecodedPages*>(cookie)->seek(offset, whence);
}
int ClosePages(void* cookie) {
  delete static_cast<DecodedPages*>(cookie);
  return 0;
}

}  // namespace

std::FILE* OpenDecodedPageStream(const std::string& path, std::size_t pageSize,
                                 std::shared_ptr<const format::PageCodec> codec) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return nullptr;
  }
  auto* pages = new DecodedPages(fd, static_cast<std::uint64_t>(st.st_size) / pageSize, pageSize,
                                 std::move(codec));
  cookie_io_functions_t functions{ReadPages, nullptr, SeekPages, ClosePages};
  std::FILE* stream = fopencookie(pages, "r", functions);
  if (!stream) {
    delete pages;
    return nullptr;
  }
  // A buffer of one page: a cookie stream hands an unbuffered fread to its reader a byte at a
  // time, a buffered one fills its buffer with one call.
  std::setvbuf(stream, nullptr, _IOFBF, pageSize);
  return stream;
}

}  // namespace db::access::read
