// How a pass over the recording ended.
#pragma once

namespace pulsecut {

struct PassStatus {
  enum Code {
    kOk,
    kSourceOpen,        // the source could not be opened
    kSourceFormat,      // the header names a format the passes cannot read
    kSourceSeek,        // the source cannot seek to its samples (a pipe, say)
    kSourceRead,        // a read failed before the end of the file
    kDestinationWrite,  // a write to the destination failed
  };
  Code code = kOk;
  int errorNumber = 0;  // errno of the failure, where there is one

  bool ok() const { return code == kOk; }
};

}  // namespace pulsecut
