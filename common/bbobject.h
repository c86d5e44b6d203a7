// The base of every data object that crosses the host boundary. Its one virtual operation, the
// destructor, puts a vtable pointer at the start of every shared object. Host-facing header.
#pragma once

namespace ascommon {

class CBlackBoxObject {
  public:
    virtual ~CBlackBoxObject() {}
};

}  // namespace ascommon
