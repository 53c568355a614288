// The Win32 subset the add-in uses. On Windows this is the real API; on other
// platforms the host stand-in library provides the same calls, so the add-in's
// own code is identical everywhere.
#ifndef HVT_SDK_WIN32_H
#define HVT_SDK_WIN32_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define XLCALL_CDECL __cdecl
#define XLCALL_STDCALL __stdcall
#define HVT_EXPORT __declspec(dllexport)

#else  // !_WIN32

#include <stddef.h>
#include <stdint.h>

#define XLCALL_CDECL
#define XLCALL_STDCALL
#define WINAPI
#define CALLBACK
#define HVT_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef int BOOL;
typedef int HFILE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
typedef HANDLE HWND;
typedef HANDLE HINSTANCE;
typedef uint32_t LCID;
typedef size_t SIZE_T;
typedef intptr_t LPARAM;
typedef BOOL (*WNDENUMPROC)(HWND, LPARAM);

#define TRUE 1
#define FALSE 0
#define HFILE_ERROR (-1)
#define OF_READ 0
#define OF_WRITE 1
#define OF_READWRITE 2

#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

#define NORM_IGNORECASE 0x00000001u
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL mem);
BOOL GlobalUnlock(HGLOBAL mem);
HGLOBAL GlobalHandle(const void* pointer);
HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags);
HGLOBAL GlobalFree(HGLOBAL mem);
SIZE_T GlobalSize(HGLOBAL mem);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL mem);

int lstrlenA(LPCSTR text);
LPSTR lstrcpyA(LPSTR target, LPCSTR source);
LPSTR lstrcatA(LPSTR target, LPCSTR source);
int wsprintfA(LPSTR target, LPCSTR format, ...);
int CompareStringA(LCID locale, DWORD flags, LPCSTR a, int a_length,
                   LPCSTR b, int b_length);

BOOL EnumWindows(WNDENUMPROC callback, LPARAM param);
int GetClassNameA(HWND window, LPSTR name, int capacity);
HWND GetParent(HWND window);

HFILE _lopen(LPCSTR path, int mode);
HFILE _lcreat(LPCSTR path, int attributes);
UINT _lwrite(HFILE file, LPCSTR data, UINT bytes);
HFILE _lclose(HFILE file);

#define MOVEFILE_REPLACE_EXISTING 0x1
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
BOOL DeleteFileA(LPCSTR path);

#ifdef __cplusplus
}
#endif

#endif  // _WIN32

#endif  // HVT_SDK_WIN32_H
