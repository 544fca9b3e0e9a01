// The Windows types and constants the core uses. On Windows they come from the
// SDK headers; on the host (simulator builds) a minimal, layout-compatible set.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>
#include <shellapi.h>
#include <shlobj.h>
#else
#include <cstdint>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef uint16_t LANGID;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef ULONG_PTR DWORD_PTR;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* PSID;
typedef void* LPVOID;
typedef struct HKEY__* HKEY;
typedef unsigned int UINT;
typedef char16_t WCHAR;  // UTF-16 code unit, as on Windows

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu

#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)0x80000002u)
#define KEY_ALL_ACCESS 0xF003Fu
#define KEY_READ 0x20019u
#define KEY_QUERY_VALUE 0x1u
#define REG_MULTI_SZ 7u
#define REG_SZ 1u
#define ERROR_MORE_DATA 234

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_SAME_DEVICE 17
#define ERROR_NO_MORE_FILES 18
#define ERROR_SHARING_VIOLATION 32
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_ALREADY_EXISTS 183
#define ERROR_GEN_FAILURE 31
#define ERROR_CALL_NOT_IMPLEMENTED 120
#define ERROR_DIRECTORY 267
#define FILE_CASE_PRESERVED_NAMES 0x2u
#define FILE_PERSISTENT_ACLS 0x8u
#define ERROR_INVALID_FLAGS 1004
#define ERROR_NO_UNICODE_TRANSLATION 1113

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_HIDDEN 0x2u
#define FILE_ATTRIBUTE_SYSTEM 0x4u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u

#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_COPY_ALLOWED 0x2u
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x4u

#define TH32CS_SNAPPROCESS 0x2u
#define PROCESS_QUERY_INFORMATION 0x400u
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000u
#define TOKEN_QUERY 0x8u
#define WAIT_OBJECT_0 0x0u
#define WAIT_TIMEOUT 0x102u
#define WAIT_FAILED 0xFFFFFFFFu

#define WM_COMMAND 0x0111u
#define SMTO_BLOCK 0x1u
#define SMTO_ABORTIFHUNG 0x2u

#define MB_OK 0x0u
#define MB_YESNO 0x4u
#define MB_ICONINFORMATION 0x40u
#define MB_ICONWARNING 0x30u
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define CSIDL_COMMON_PROGRAMS 0x17
#define CSIDL_COMMON_DESKTOPDIRECTORY 0x19
#define CSIDL_PROGRAM_FILES 0x26
#define SHCNE_UPDATEDIR 0x1000
#define SHCNF_PATHA 0x1u
#define SHCNF_FLUSH 0x1000u

#define SEE_MASK_NOCLOSEPROCESS 0x40u
#define SEE_MASK_FLAG_NO_UI 0x400u
#define SW_SHOW 5

#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

#define LANG_CHINESE 0x04

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x8u
#define WC_NO_BEST_FIT_CHARS 0x400u

typedef enum _TOKEN_INFORMATION_CLASS { TokenUser = 1 } TOKEN_INFORMATION_CLASS;

typedef struct _SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
} SID_AND_ATTRIBUTES;

typedef struct _TOKEN_USER {
  SID_AND_ATTRIBUTES User;
} TOKEN_USER;

typedef struct tagPROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  ULONG_PTR th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  char szExeFile[MAX_PATH];
} PROCESSENTRY32;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
} WIN32_FIND_DATAA;

typedef struct _SHELLEXECUTEINFOA {
  DWORD cbSize;
  DWORD fMask;
  HWND hwnd;
  const char* lpVerb;
  const char* lpFile;
  const char* lpParameters;
  const char* lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  void* lpIDList;
  const char* lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;
} SHELLEXECUTEINFOA;

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
} OSVERSIONINFOA;

typedef struct _STARTUPINFOA {
  DWORD cb;
  char* lpReserved;
  char* lpDesktop;
  char* lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOA;

#define STARTF_USESHOWWINDOW 0x1u
#define SW_SHOWDEFAULT 10
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800u

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION;
#define CREATE_SUSPENDED 0x4u
#define ERROR_ELEVATION_REQUIRED 740
#define ERROR_NOT_ALL_ASSIGNED 1300
typedef LONG HRESULT;
#define S_OK 0
#define S_FALSE 1
#define E_POINTER ((HRESULT)0x80004003u)
#define COINIT_APARTMENTTHREADED 0x2u
#define COINIT_DISABLE_OLE1DDE 0x4u

#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)(((WORD)(l)) | (((DWORD)(WORD)(h)) << 16)))
#endif  // _WIN32

// Full access to a process as the old NT headers define it; newer SDKs widened
// PROCESS_ALL_ACCESS, which older systems refuse.
constexpr DWORD kProcessAllAccessNt4 = 0x1F0FFF;
