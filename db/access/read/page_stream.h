// The stream libmdb reads an encrypted .accdb file through. libmdb reads every page through the
// stdio stream of its handle (mdb->f->stream): it seeks to the end to learn the file's size,
// seeks to the page and reads one page with fread; nothing else touches the file. So the file is
// opened by libmdb as usual (page 0 is stored plainly), and the engine then puts in place of its
// stream a stream of ours (glibc's fopencookie) that reads the file and hands out every page
// decrypted by the file's page codec, and sets libmdb's own page key to zero so that libmdb does
// not decode the pages again. Plain pages exist only in memory: the last few pages read are kept
// (kCachedPages), the rest is read and decrypted again when asked for, so memory does not grow
// with the file. The stream is read-only, with a buffer of one page.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "db/access/format/encryption.h"

namespace db::access::read {

constexpr std::size_t kCachedPages = 8;

// A stream over the file at `path` (`pageSize`-byte pages; a last part page is not read) whose
// pages come out decoded by `codec`. Gives nullptr (errno set) when the file cannot be opened.
// Closing the stream closes the file.
std::FILE* OpenDecodedPageStream(const std::string& path, std::size_t pageSize,
                                 std::shared_ptr<const format::PageCodec> codec);

}  // namespace db::access::read
