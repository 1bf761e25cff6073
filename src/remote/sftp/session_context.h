#pragma once

#include <cstddef>
#include <string>

#include "remote/sftp/kex_offer.h"

// What one libssh2 session reaches through its abstract pointer: its own memory (so that a
// session torn down after a broken connection gives back every block libssh2 1.10 forgets to
// free, such as the handle of a file whose close could not be sent), the password that
// answers keyboard-interactive prompts and the first bytes of the connection each way.
namespace vs::sftp {

class SessionContext {
  public:
    SessionContext() = default;
    ~SessionContext() { releaseAll(); }
    SessionContext(const SessionContext&) = delete;
    SessionContext& operator=(const SessionContext&) = delete;

    static SessionContext* of(void** abstract) { return static_cast<SessionContext*>(*abstract); }

    // The allocator functions handed to libssh2_session_init_ex.
    static void* allocate(std::size_t size, void** abstract);
    static void* reallocate(void* block, std::size_t size, void** abstract);
    static void release(void* block, void** abstract);

    void* allocate(std::size_t size);
    void release(void* block);
    // Frees what is still allocated; only after libssh2_session_free.
    void releaseAll();
    std::size_t blocksInUse() const { return blocks_; }

    std::string password;
    // What the socket callbacks saw of the connection until the keys were agreed.
    HandshakeRecorder handshake;

  private:
    struct Header;
    Header* first_ = nullptr;
    std::size_t blocks_ = 0;
};

}  // namespace vs::sftp
