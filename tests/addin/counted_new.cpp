// In this test program every C++ allocation the add-in's own code makes
// counts against the stand-in's allocation countdown, so that a memory walk
// reaches the containers of the cores and the commands as well as their
// global and local blocks. The host's and the tests' allocations never fail.
#include <cstdlib>
#include <new>

#include "standin/standin.h"

namespace {

void* Take(std::size_t bytes) {
  if (standin::ModuleAllocationFails()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void* TakeOrThrow(std::size_t bytes) {
  void* block = Take(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t bytes) { return TakeOrThrow(bytes); }
void* operator new[](std::size_t bytes) { return TakeOrThrow(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return Take(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return Take(bytes); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
