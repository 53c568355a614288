// Whose code is running: the loaded module's own, or the host's (called back
// from the module). A test build's operator new asks, so that only the
// module's C++ allocations count towards an injected failure.
#ifndef HVT_STANDIN_MODULE_CODE_H
#define HVT_STANDIN_MODULE_CODE_H

namespace standin {

extern bool g_module_code;

// Marks a stretch of code as the module's (true) or the host's (false)
// and puts the previous mark back at its end.
class CodeOwner {
 public:
  explicit CodeOwner(bool module) : saved_(g_module_code) { g_module_code = module; }
  ~CodeOwner() { g_module_code = saved_; }
  CodeOwner(const CodeOwner&) = delete;
  CodeOwner& operator=(const CodeOwner&) = delete;

 private:
  bool saved_;
};

}  // namespace standin

#endif  // HVT_STANDIN_MODULE_CODE_H
