// A growing run of bytes taken from the kernel in its own mapping and given
// back whole when the buffer goes: a listing of 100,000 names lives a
// fraction of a second, and on the malloc heap each worker thread's arena
// would keep its megabytes for good. Grows without copying (mremap). One
// instance per listing, used by one thread.
#pragma once

#include <cstddef>

namespace Orvane {
namespace Host {

class WebDAVMappedBuffer {
public:
    WebDAVMappedBuffer() = default;
    ~WebDAVMappedBuffer();
    WebDAVMappedBuffer(const WebDAVMappedBuffer&) = delete;
    WebDAVMappedBuffer& operator=(const WebDAVMappedBuffer&) = delete;

    // Appends `n` bytes. Throws std::bad_alloc when the kernel has no room.
    void append(const void* bytes, std::size_t n);

    char* data() { return m_data; }
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_room = 0;
};

}  // namespace Host
}  // namespace Orvane
