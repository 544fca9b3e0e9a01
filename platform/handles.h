// One small owner per kind of handle. Null and INVALID_HANDLE_VALUE both mean
// "none", so every handle an operation opens is closed when it returns.
#pragma once
#include <cstdlib>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace pf {

inline bool IsValidHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Process, token and snapshot handles: closed with CloseHandle.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool IsValid() const { return IsValidHandle(h_); }
  HANDLE Get() const { return h_; }
  HANDLE* Receive() {
    Close();
    return &h_;
  }
  void Close() {
    if (IsValid()) pf::CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

class ScopedFindHandle {
 public:
  explicit ScopedFindHandle(HANDLE h) : h_(h) {}
  ~ScopedFindHandle() {
    if (IsValid()) pf::FindClose(h_);
  }
  ScopedFindHandle(const ScopedFindHandle&) = delete;
  ScopedFindHandle& operator=(const ScopedFindHandle&) = delete;

  bool IsValid() const { return IsValidHandle(h_); }
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

// A zero-filled block from the C runtime's heap, freed when it goes out of
// scope (also when the simulated program ends mid-call); null when none.
class ScopedBuffer {
 public:
  ScopedBuffer() = default;
  explicit ScopedBuffer(size_t size) { Allocate(size); }
  ~ScopedBuffer() { std::free(data_); }
  ScopedBuffer(const ScopedBuffer&) = delete;
  ScopedBuffer& operator=(const ScopedBuffer&) = delete;

  char* Allocate(size_t size) {
    std::free(data_);
    data_ = static_cast<char*>(std::calloc(size, 1));
    size_ = data_ != nullptr ? size : 0;
    return data_;
  }
  char* Get() const { return data_; }
  size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
};

class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ~ScopedRegKey() { Close(); }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  // Opens root\subKey; true when the key is open. error, when given, gets
  // the call's result.
  bool Open(HKEY root, const char* subKey, REGSAM access, LONG* error = nullptr) {
    Close();
    HKEY k = nullptr;
    const LONG result = pf::RegOpenKeyExA(root, subKey, 0, access, &k);
    if (error != nullptr) *error = result;
    if (result != ERROR_SUCCESS) return false;
    key_ = k;
    return key_ != nullptr;
  }
  bool IsValid() const { return key_ != nullptr; }
  HKEY Get() const { return key_; }
  void Close() {
    if (key_ != nullptr) pf::RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace pf
