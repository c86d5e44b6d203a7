// The base of every data object that crosses the host boundary. Its one virtual operation, the
// destructor, puts a vtable pointer at the start of every shared object. Host-facing header.
#pragma once

namespace ascommon {

class CBlackBoxObject {
  public:
    virtual ~CBlackBoxObject() {}
};

// True when `copy`, just assigned or copy-constructed from `source`, holds what the source
// holds. The containers ask it after every element copy. Types whose copies cannot fail use
// this one; the string classes, whose copies take their buffers from the non-throwing hook and
// stay without text when none can be had, overload it next to their class.
template <class T>
inline bool CopyComplete(const T&, const T&) {
    return true;
}

}  // namespace ascommon
