#include "webdav/WebDAVMappedBuffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace Orvane {
namespace Host {

namespace {

const std::size_t kFirstRoom = 64 * 1024;

}  // namespace

WebDAVMappedBuffer::~WebDAVMappedBuffer() {
    if (m_data)
        ::munmap(m_data, m_room);
}

void WebDAVMappedBuffer::append(const void* bytes, std::size_t n) {
    if (n == 0)
        return;
    if (m_size + n > m_room) {
        const std::size_t room = std::max(std::max(m_room * 2, kFirstRoom), m_size + n);
        void* grown = m_data ? ::mremap(m_data, m_room, room, MREMAP_MAYMOVE)
                             : ::mmap(nullptr, room, PROT_READ | PROT_WRITE,
                                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (grown == MAP_FAILED)
            throw std::bad_alloc();
        m_data = static_cast<char*>(grown);
        m_room = room;
    }
    std::memcpy(m_data + m_size, bytes, n);
    m_size += n;
}

}  // namespace Host
}  // namespace Orvane
