// A process-wide object of the library that is built in the library's own
// static storage and never destroyed.
//
// Never destroyed: the run-time runs the destructors of statics at exit()
// before the exit handlers a host registered earlier, and such a handler
// may still call the library. In static storage, not on the heap: a heap
// block that only a static of the library points to is lost for good when
// a host unloads the library with dlclose(), and a host that loads and
// unloads it again and again would grow without end. The object should
// hold no heap memory of its own while the library rests either (no
// library object, no open port): keep its defaults short enough to sit
// inside it, and give back what it took when its users are gone.
#pragma once

#include <new>
#include <utility>

namespace ylvane::sys {

template <class T>
class NeverDestroyed {
 public:
  template <class... Args>
  explicit NeverDestroyed(Args&&... args) {
    ::new (static_cast<void*>(m_storage)) T(std::forward<Args>(args)...);
  }
  NeverDestroyed(const NeverDestroyed&) = delete;
  NeverDestroyed& operator=(const NeverDestroyed&) = delete;

  T& operator*() { return *Get(); }
  T* operator->() { return Get(); }

 private:
  T* Get() { return std::launder(reinterpret_cast<T*>(m_storage)); }

  alignas(T) unsigned char m_storage[sizeof(T)];
};

}  // namespace ylvane::sys
