// A few threads sharing the long sweeps of one decomposition. The calling
// thread works too and is the only one that returns to the caller, so
// observers and the host are only ever reached from it; helpers only
// compute. Helpers live for one decomposition and are joined before it
// returns.
#ifndef HVT_TOOLS_DECOR_CORE_DECOR_TEAM_H
#define HVT_TOOLS_DECOR_CORE_DECOR_TEAM_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace hvt::decor::detail {

class Team {
 public:
  // Starts up to threads - 1 helpers; fewer (down to none) when the system
  // refuses a thread or memory is short.
  explicit Team(unsigned threads);
  ~Team();
  Team(const Team&) = delete;
  Team& operator=(const Team&) = delete;

  // Threads that may take part in Run, the caller's included.
  unsigned Size() const { return static_cast<unsigned>(helpers_.size()) + 1; }

  // Calls job(piece) once for each piece = 0..pieces-1 and returns when all
  // are done. The calling thread takes pieces too, so that a helper the
  // system has not scheduled only means fewer pieces done beside it, never
  // a wait for it to start. job must not throw.
  template <typename F>
  void Run(unsigned pieces, F&& job) {
    if (helpers_.empty() || pieces <= 1) {
      for (unsigned piece = 0; piece < pieces; ++piece) job(piece);
      return;
    }
    RunErased(pieces, [](void* f, unsigned piece) { (*static_cast<F*>(f))(piece); },
              static_cast<void*>(&job));
  }

 private:
  using Job = void (*)(void*, unsigned);
  void RunErased(unsigned pieces, Job job, void* context);
  // Takes and does pieces of the given round while any are left.
  void DoPieces(std::uint64_t round, unsigned pieces, Job job, void* context);
  void HelperLoop();

  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  // The round in the high 32 bits, the next piece to take in the low ones:
  // a helper late for its round cannot take a piece of the next.
  std::atomic<std::uint64_t> ticket_{0};
  std::atomic<unsigned> finished_{0};  // pieces of this round done
  unsigned pieces_ = 0;
  unsigned sleepers_ = 0;
  bool quit_ = false;
  Job job_ = nullptr;
  void* context_ = nullptr;
};

// [begin, end) cut into `shares` contiguous pieces, sizes differing by at
// most one, in order; piece `share` of them.
struct Range {
  std::size_t begin;
  std::size_t end;
};
inline Range Piece(std::size_t begin, std::size_t end, unsigned share, unsigned shares) {
  const std::size_t count = end - begin;
  const std::size_t base = count / shares;
  const std::size_t extra = count % shares;
  const std::size_t first = begin + share * base + (share < extra ? share : extra);
  return {first, first + base + (share < extra ? 1 : 0)};
}

// Threads a decomposition of rows x cols may use: 1 below a size where the
// hand-over costs more than it saves, otherwise the limit (SetThreadLimit).
unsigned ThreadsFor(std::size_t rows, std::size_t cols);

// Test hook: matrices of at least `cells` elements are shared among threads
// (0 restores the default size). Not thread-safe.
void SetThreadingThreshold(std::size_t cells);

}  // namespace hvt::decor::detail

#endif  // HVT_TOOLS_DECOR_CORE_DECOR_TEAM_H
