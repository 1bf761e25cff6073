#include "remote/sftp/session_context.h"

#include <cstdlib>
#include <cstring>

namespace vs::sftp {

struct alignas(alignof(std::max_align_t)) SessionContext::Header {
    Header* previous;
    Header* next;
    std::size_t size;
};

void* SessionContext::allocate(std::size_t size) {
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (!header) return nullptr;
    header->previous = nullptr;
    header->next = first_;
    header->size = size;
    if (first_) first_->previous = header;
    first_ = header;
    ++blocks_;
    return header + 1;
}

void SessionContext::release(void* block) {
    if (!block) return;
    Header* header = static_cast<Header*>(block) - 1;
    if (header->previous)
        header->previous->next = header->next;
    else
        first_ = header->next;
    if (header->next) header->next->previous = header->previous;
    --blocks_;
    std::free(header);
}

void SessionContext::releaseAll() {
    while (first_) release(first_ + 1);
}

void* SessionContext::allocate(std::size_t size, void** abstract) {
    return of(abstract)->allocate(size);
}

void* SessionContext::reallocate(void* block, std::size_t size, void** abstract) {
    SessionContext* context = of(abstract);
    if (!block) return context->allocate(size);
    void* fresh = context->allocate(size);
    if (!fresh) return nullptr;
    const Header* old = static_cast<Header*>(block) - 1;
    std::memcpy(fresh, block, old->size < size ? old->size : size);
    context->release(block);
    return fresh;
}

void SessionContext::release(void* block, void** abstract) {
    of(abstract)->release(block);
}

}  // namespace vs::sftp
