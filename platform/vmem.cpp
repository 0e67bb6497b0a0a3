// Virtual memory on POSIX: mmap of PROT_NONE with MAP_NORESERVE, mprotect to commit, and
// MADV_DONTNEED + PROT_NONE to release pages.
#include "platform/vmem.hpp"

#include <sys/mman.h>

namespace kov::vmem {

uint8_t* reserve(size_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

bool commit(uint8_t* start, size_t bytes) {
    return mprotect(start, bytes, PROT_READ | PROT_WRITE) == 0;
}

bool decommit(uint8_t* start, size_t bytes) {
    if (madvise(start, bytes, MADV_DONTNEED) != 0) return false;
    return mprotect(start, bytes, PROT_NONE) == 0;
}

}  // namespace kov::vmem
