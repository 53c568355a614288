#include "tools/decor/core/decor_team.h"

#include <new>
#include <system_error>

#include "tools/decor/core/decor.h"
#include "tools/decor/core/decor_alloc.h"

namespace hvt::decor {

namespace {
std::atomic<unsigned> threadLimit{0};  // 0: one per processor
std::size_t threadingThreshold = 0;    // 0: the default below

// Under this many elements a sweep is too short to hand part of it over.
constexpr std::size_t kDefaultThreshold = 16384;
// Helpers spin this many rounds for the next piece of work before sleeping:
// rounds come in quick succession during a decomposition, and waking a
// sleeping thread costs tens of microseconds.
constexpr int kSpinRounds = 2000;

inline void Pause() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  __builtin_ia32_pause();
#endif
}

constexpr std::uint64_t kPieceMask = 0xffffffffu;
}  // namespace

void SetThreadLimit(unsigned threads) { threadLimit.store(threads); }

unsigned ThreadLimit() {
  const unsigned limit = threadLimit.load();
  if (limit != 0) return limit;
  const unsigned processors = std::thread::hardware_concurrency();
  return processors == 0 ? 1 : processors;
}

namespace detail {

void SetThreadingThreshold(std::size_t cells) { threadingThreshold = cells; }

unsigned ThreadsFor(std::size_t rows, std::size_t cols) {
  const std::size_t threshold = threadingThreshold ? threadingThreshold : kDefaultThreshold;
  std::size_t cells = 0;
  if (!CheckedProduct(rows, cols, cells) || cells < threshold) return 1;
  return ThreadLimit();
}

Team::Team(unsigned threads) {
  if (threads <= 1) return;
  try {
    helpers_.reserve(threads - 1);
    for (unsigned helper = 1; helper < threads; ++helper)
      helpers_.emplace_back([this] { HelperLoop(); });
  } catch (const std::system_error&) {
    // Fewer helpers than asked; the caller does what they do not.
  } catch (const std::bad_alloc&) {
  }
}

Team::~Team() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    ticket_.fetch_add(std::uint64_t{1} << 32);
  }
  wake_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

void Team::DoPieces(std::uint64_t round, unsigned pieces, Job job, void* context) {
  std::uint64_t ticket = ticket_.load();
  for (;;) {
    if ((ticket >> 32) != round || (ticket & kPieceMask) >= pieces) return;
    if (!ticket_.compare_exchange_weak(ticket, ticket + 1)) continue;
    job(context, static_cast<unsigned>(ticket & kPieceMask));
    if (finished_.fetch_add(1) + 1 == pieces) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_.notify_all();
    }
    ticket = ticket_.load();
  }
}

void Team::RunErased(unsigned pieces, Job job, void* context) {
  std::uint64_t round;
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    pieces_ = pieces;
    finished_.store(0);
    round = (ticket_.load() >> 32) + 1;
    ticket_.store(round << 32);
    wake = sleepers_ != 0;
  }
  if (wake) wake_.notify_all();
  DoPieces(round, pieces, job, context);
  for (int spin = 0; spin < kSpinRounds && finished_.load() != pieces; ++spin) Pause();
  if (finished_.load() != pieces) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return finished_.load() == pieces; });
  }
}

void Team::HelperLoop() {
  std::uint64_t seen = 0;  // the last round this helper looked at
  for (;;) {
    for (int spin = 0; spin < kSpinRounds && (ticket_.load() >> 32) == seen; ++spin)
      Pause();
    std::uint64_t round;
    unsigned pieces;
    Job job;
    void* context;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if ((ticket_.load() >> 32) == seen && !quit_) {
        ++sleepers_;
        wake_.wait(lock, [&] { return (ticket_.load() >> 32) != seen || quit_; });
        --sleepers_;
      }
      if (quit_) return;
      round = ticket_.load() >> 32;
      pieces = pieces_;
      job = job_;
      context = context_;
    }
    seen = round;
    DoPieces(round, pieces, job, context);
  }
}

}  // namespace detail
}  // namespace hvt::decor
