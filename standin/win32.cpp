// The Win32 subset the add-in calls, for platforms without it: movable and
// fixed memory behind a handle table, the string calls, a window list and
// the old file calls. Every block is counted so tests can see leaks.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "sdk/win32.h"
#include "standin/module_code.h"
#include "standin/win32_state.h"

namespace standin::win32 {
namespace {

struct Block {
  void* data = nullptr;
  SIZE_T size = 0;
  bool moveable = false;
  bool local = false;
  int locks = 0;
};

// The blocks' memory; their accounting is the ledger's.
struct MemoryState {
  std::map<HANDLE, Block> blocks;            // by handle
  std::map<const void*, HANDLE> by_pointer;  // data pointer -> handle
  std::uintptr_t next_handle = 0x10000;
};

MemoryState& Mem() {
  static MemoryState state;
  return state;
}

HANDLE Allocate(UINT flags, SIZE_T bytes, bool local) {
  if (TakeInjectedFailure()) return nullptr;
  MemoryState& m = Mem();
  // Windows hands out a usable block for zero bytes too; keep one byte so
  // every block has a distinct address.
  void* data = (flags & GMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1)
                                       : std::malloc(bytes ? bytes : 1);
  if (data == nullptr) return nullptr;
  Block block;
  block.data = data;
  block.size = bytes;
  block.moveable = (flags & GMEM_MOVEABLE) != 0;
  block.local = local;
  HANDLE handle = data;
  if (block.moveable) {
    handle = reinterpret_cast<HANDLE>(m.next_handle);
    m.next_handle += 8;
  }
  m.blocks[handle] = block;
  m.by_pointer[data] = handle;
  TrackBlock(handle, bytes, local);
  return handle;
}

HANDLE Release(HANDLE handle, bool local) {
  if (handle == nullptr) return nullptr;
  if (!UntrackBlock(handle, local ? "LocalFree" : "GlobalFree")) return handle;
  MemoryState& m = Mem();
  auto it = m.blocks.find(handle);
  m.by_pointer.erase(it->second.data);
  std::free(it->second.data);
  m.blocks.erase(it);
  return nullptr;
}

Block* Find(HANDLE handle) {
  auto it = Mem().blocks.find(handle);
  return it == Mem().blocks.end() ? nullptr : &it->second;
}

}  // namespace

void ResetMemory() {
  MemoryState& m = Mem();
  for (auto& [handle, block] : m.blocks) std::free(block.data);
  m.blocks.clear();
  m.by_pointer.clear();
  ForgetBlocks(nullptr);
}

// ---- Windows ----

namespace {
struct WindowState {
  std::vector<Window> windows;
  std::uintptr_t next = 0x2000;
};
WindowState& Win() {
  static WindowState state;
  return state;
}
// Low 16 bits 0x1234: what xlGetHwnd answers.
const HWND kMainWindow = reinterpret_cast<HWND>(std::uintptr_t{0x000A1234});
}  // namespace

HWND MainWindow() { return kMainWindow; }

HWND AddWindow(const std::string& class_name, HWND parent) {
  WindowState& w = Win();
  HWND handle = reinterpret_cast<HWND>(std::uintptr_t{0x00B00000} | w.next);
  w.next += 4;
  if ((w.next & 0xFFFF) == 0x1234) w.next += 4;
  w.windows.push_back({handle, class_name, parent});
  return handle;
}

bool RemoveWindow(HWND window) {
  auto& list = Win().windows;
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->handle == window && window != kMainWindow) {
      list.erase(it);
      return true;
    }
  }
  return false;
}

void ResetWindows() {
  WindowState& w = Win();
  w.windows.clear();
  w.windows.push_back({kMainWindow, "XLMAIN", nullptr});
  w.next = 0x2000;
}

const std::vector<Window>& Windows() {
  if (Win().windows.empty()) ResetWindows();
  return Win().windows;
}

}  // namespace standin::win32

using standin::win32::Find;

extern "C" {

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  standin::CodeOwner host(false);
  return standin::win32::Allocate(flags, bytes, false);
}

LPVOID GlobalLock(HGLOBAL mem) {
  auto* block = Find(mem);
  if (block == nullptr) return nullptr;
  ++block->locks;
  return block->data;
}

BOOL GlobalUnlock(HGLOBAL mem) {
  auto* block = Find(mem);
  if (block == nullptr || block->locks == 0) return FALSE;
  --block->locks;
  return block->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalHandle(const void* pointer) {
  auto& map = standin::win32::Mem().by_pointer;
  auto it = map.find(pointer);
  return it == map.end() ? nullptr : it->second;
}

HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
  standin::CodeOwner host(false);
  auto& m = standin::win32::Mem();
  auto* block = Find(mem);
  if (block == nullptr) return nullptr;
  if (standin::win32::TakeInjectedFailure()) return nullptr;
  void* data = std::malloc(bytes ? bytes : 1);
  if (data == nullptr) return nullptr;
  std::memcpy(data, block->data, block->size < bytes ? block->size : bytes);
  if ((flags & GMEM_ZEROINIT) && bytes > block->size)
    std::memset(static_cast<char*>(data) + block->size, 0, bytes - block->size);
  m.by_pointer.erase(block->data);
  std::free(block->data);
  block->data = data;
  block->size = bytes;
  if (block->moveable) {
    m.by_pointer[data] = mem;
    standin::win32::ResizeBlock(mem, bytes);
    return mem;
  }
  // A fixed block's handle is its address, so it changes with the block.
  standin::win32::Block moved = *block;
  m.blocks.erase(mem);
  m.blocks[data] = moved;
  m.by_pointer[data] = data;
  standin::win32::UntrackBlock(mem, "GlobalReAlloc");
  standin::win32::TrackBlock(data, bytes, moved.local);
  return data;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
  standin::CodeOwner host(false);
  return standin::win32::Release(mem, false);
}

SIZE_T GlobalSize(HGLOBAL mem) {
  auto* block = Find(mem);
  return block == nullptr ? 0 : block->size;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  standin::CodeOwner host(false);
  return standin::win32::Allocate(flags, bytes, true);
}

HLOCAL LocalFree(HLOCAL mem) {
  standin::CodeOwner host(false);
  return standin::win32::Release(mem, true);
}

int lstrlenA(LPCSTR text) {
  return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

LPSTR lstrcpyA(LPSTR target, LPCSTR source) {
  if (target == nullptr || source == nullptr) return nullptr;
  std::memmove(target, source, std::strlen(source) + 1);
  return target;
}

LPSTR lstrcatA(LPSTR target, LPCSTR source) {
  if (target == nullptr || source == nullptr) return nullptr;
  std::memmove(target + std::strlen(target), source, std::strlen(source) + 1);
  return target;
}

// Windows' formatter: %[-][0][width][.precision][l|h]{d,i,u,x,X,c,s,%}, no
// floating point, at most 1024 bytes written including the NUL.
int wsprintfA(LPSTR target, LPCSTR format, ...) {
  standin::CodeOwner host(false);
  constexpr std::size_t kLimit = 1024;
  if (target == nullptr || format == nullptr) return 0;
  std::string out;
  va_list args;
  va_start(args, format);
  for (const char* p = format; *p != '\0' && out.size() < kLimit; ++p) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    const char* start = p++;
    bool left = false, zero = false;
    for (; *p == '-' || *p == '0' || *p == '#'; ++p) {
      if (*p == '-') left = true;
      if (*p == '0') zero = true;
    }
    int width = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) width = width * 10 + (*p++ - '0');
    int precision = -1;
    if (*p == '.') {
      precision = 0;
      ++p;
      while (std::isdigit(static_cast<unsigned char>(*p)))
        precision = precision * 10 + (*p++ - '0');
    }
    bool shortened = false;
    if (*p == 'l') ++p;  // long is 32 bits on Windows: same as int
    else if (*p == 'h') { shortened = true; ++p; }
    std::string field;
    switch (*p) {
      case 'd': case 'i': {
        int v = va_arg(args, int);
        if (shortened) v = static_cast<short>(v);
        field = std::to_string(v);
        break;
      }
      case 'u': case 'x': case 'X': {
        unsigned v = va_arg(args, unsigned);
        if (shortened) v = static_cast<unsigned short>(v);
        char text[16];
        std::snprintf(text, sizeof text, *p == 'u' ? "%u" : *p == 'x' ? "%x" : "%X", v);
        field = text;
        break;
      }
      case 'c':
        field = static_cast<char>(va_arg(args, int));
        break;
      case 's': {
        const char* s = va_arg(args, const char*);
        field = s == nullptr ? "(null)" : s;
        if (precision >= 0 && field.size() > static_cast<std::size_t>(precision))
          field.resize(static_cast<std::size_t>(precision));
        zero = false;
        break;
      }
      case '%':
        field = "%";
        break;
      case '\0':
        --p;
        field.assign(start, p + 1);
        break;
      default:
        field.assign(start, p + 1);  // unknown: copied as written
        width = 0;
    }
    if (static_cast<int>(field.size()) < width) {
      std::size_t pad = static_cast<std::size_t>(width) - field.size();
      if (left) field.append(pad, ' ');
      else if (zero && !field.empty() && field[0] == '-') field.insert(1, pad, '0');
      else field.insert(0, pad, zero ? '0' : ' ');
    }
    out += field;
  }
  va_end(args);
  if (out.size() > kLimit - 1) out.resize(kLimit - 1);
  std::memcpy(target, out.c_str(), out.size() + 1);
  return static_cast<int>(out.size());
}

int CompareStringA(LCID, DWORD flags, LPCSTR a, int a_length, LPCSTR b,
                   int b_length) {
  if (a == nullptr || b == nullptr || a_length < -1 || b_length < -1) return 0;
  std::size_t na = a_length == -1 ? std::strlen(a) : static_cast<std::size_t>(a_length);
  std::size_t nb = b_length == -1 ? std::strlen(b) : static_cast<std::size_t>(b_length);
  for (std::size_t i = 0; i < na && i < nb; ++i) {
    int ca = static_cast<unsigned char>(a[i]);
    int cb = static_cast<unsigned char>(b[i]);
    if (flags & NORM_IGNORECASE) {
      ca = std::tolower(ca);
      cb = std::tolower(cb);
    }
    if (ca != cb) return ca < cb ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  if (na == nb) return CSTR_EQUAL;
  return na < nb ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

BOOL EnumWindows(WNDENUMPROC callback, LPARAM param) {
  standin::CodeOwner host(false);
  if (callback == nullptr) return FALSE;
  // A copy: the callback may open or close windows.
  const std::vector<standin::win32::Window> list = standin::win32::Windows();
  for (const auto& window : list) {
    standin::CodeOwner owner(true);
    if (!callback(window.handle, param)) break;
  }
  return TRUE;
}

int GetClassNameA(HWND window, LPSTR name, int capacity) {
  standin::CodeOwner host(false);
  if (name == nullptr || capacity <= 0) return 0;
  for (const auto& w : standin::win32::Windows()) {
    if (w.handle != window) continue;
    std::size_t n = w.class_name.size();
    if (n > static_cast<std::size_t>(capacity - 1)) n = static_cast<std::size_t>(capacity - 1);
    std::memcpy(name, w.class_name.data(), n);
    name[n] = '\0';
    return static_cast<int>(n);
  }
  name[0] = '\0';
  return 0;
}

HWND GetParent(HWND window) {
  standin::CodeOwner host(false);
  for (const auto& w : standin::win32::Windows())
    if (w.handle == window) return w.parent;
  return nullptr;
}

HFILE _lopen(LPCSTR path, int mode) {
  if (path == nullptr) return HFILE_ERROR;
  int flags = (mode & 3) == OF_WRITE ? O_WRONLY : (mode & 3) == OF_READWRITE ? O_RDWR : O_RDONLY;
  int fd = ::open(path, flags);
  return fd < 0 ? HFILE_ERROR : fd;
}

HFILE _lcreat(LPCSTR path, int) {
  if (path == nullptr) return HFILE_ERROR;
  int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC, 0644);
  return fd < 0 ? HFILE_ERROR : fd;
}

UINT _lwrite(HFILE file, LPCSTR data, UINT bytes) {
  if (bytes == 0) {
    // Windows truncates the file at the current position on a zero write.
    off_t at = ::lseek(file, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(file, at) != 0) return static_cast<UINT>(HFILE_ERROR);
    return 0;
  }
  if (data == nullptr) return static_cast<UINT>(HFILE_ERROR);
  UINT done = 0;
  while (done < bytes) {
    ssize_t n = ::write(file, data + done, bytes - done);
    if (n <= 0) return static_cast<UINT>(HFILE_ERROR);
    done += static_cast<UINT>(n);
  }
  return done;
}

HFILE _lclose(HFILE file) { return ::close(file) == 0 ? 0 : HFILE_ERROR; }

// Without MOVEFILE_REPLACE_EXISTING an existing target makes the move fail.
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (from == nullptr || to == nullptr) return FALSE;
  struct stat info;
  if (!(flags & MOVEFILE_REPLACE_EXISTING) && ::stat(to, &info) == 0) return FALSE;
  return ::rename(from, to) == 0 ? TRUE : FALSE;
}

BOOL DeleteFileA(LPCSTR path) {
  return path != nullptr && ::unlink(path) == 0 ? TRUE : FALSE;
}

}  // extern "C"

#endif  // !_WIN32
